-- Whether a program is installed, for the leftover rules. Not a rule script
-- itself: the uninstalled_*.lua scripts load it and call gate() with what
-- marks their program as installed:
--
--   commands  program names looked for in every folder of $PATH and in the
--             usual bin folders (also ~/.local/bin, /snap/bin and the Flatpak
--             export folders)
--   desktop   desktop entry file names looked for in the applications folder
--             of every XDG data folder, of both Flatpak installations and of
--             snapd
--   flatpak   application ids, installed system-wide or for the user
--   snap      snap names
--   paths     any other file or folder (a leading ~/ is the home folder)
--
-- gate() answers "/" when none of them exists: the rule's folder pattern ends
-- with the gate, so the folder is then looked at. It answers "" when any of
-- them exists, and also whenever it cannot judge - no home folder, or this
-- program itself running in a Flatpak or Snap sandbox that hides the system's
-- programs - so that a doubt never shows a program's data as a leftover.

local M = {}

-- A file or folder exists when it can be opened: the folders searched here
-- and the programs in them are readable by every user.
local function exists(path)
  local file = io.open(path, "rb")
  if file == nil then
    return false
  end
  file:close()
  return true
end

local function absolute(path)
  return path ~= nil and path:sub(1, 1) == "/"
end

-- Adds each absolute folder of a colon-separated list once.
local function add_list(folders, seen, text)
  for folder in (text or ""):gmatch("[^:]+") do
    if absolute(folder) and not seen[folder] then
      seen[folder] = true
      folders[#folders + 1] = folder
    end
  end
end

local function bin_folders(home)
  local folders, seen = {}, {}
  add_list(folders, seen, os.getenv("PATH"))
  add_list(folders, seen, "/usr/local/bin:/usr/bin:/bin:/usr/local/sbin:/usr/sbin:/sbin:/usr/games:/usr/local/games")
  add_list(folders, seen, "/snap/bin:/var/lib/flatpak/exports/bin")
  add_list(folders, seen, home .. "/.local/bin:" .. home .. "/bin:" .. home .. "/.local/share/flatpak/exports/bin")
  return folders
end

local function application_folders(home)
  local data, seen = {}, {}
  local data_home = os.getenv("XDG_DATA_HOME")
  add_list(data, seen, absolute(data_home) and data_home or home .. "/.local/share")
  add_list(data, seen, os.getenv("XDG_DATA_DIRS"))
  add_list(data, seen, "/usr/local/share:/usr/share:/var/lib/flatpak/exports/share")
  add_list(data, seen, home .. "/.local/share/flatpak/exports/share:/var/lib/snapd/desktop")
  local folders = {}
  for i, folder in ipairs(data) do
    folders[i] = folder .. "/applications"
  end
  return folders
end

local function installed(program, home)
  for _, name in ipairs(program.commands or {}) do
    for _, folder in ipairs(bin_folders(home)) do
      if exists(folder .. "/" .. name) then
        return true
      end
    end
  end
  for _, name in ipairs(program.desktop or {}) do
    for _, folder in ipairs(application_folders(home)) do
      if exists(folder .. "/" .. name) then
        return true
      end
    end
  end
  for _, id in ipairs(program.flatpak or {}) do
    if exists("/var/lib/flatpak/app/" .. id) or exists(home .. "/.local/share/flatpak/app/" .. id) then
      return true
    end
  end
  for _, name in ipairs(program.snap or {}) do
    if exists("/snap/" .. name) then
      return true
    end
  end
  for _, path in ipairs(program.paths or {}) do
    if path:sub(1, 2) == "~/" then
      path = home .. path:sub(2)
    end
    if exists(path) then
      return true
    end
  end
  return false
end

function M.gate(program)
  local home = os.getenv("HOME")
  if not absolute(home) or home == "/" then
    return ""
  end
  if exists("/.flatpak-info") or os.getenv("SNAP") ~= nil then
    return ""
  end
  if installed(program, home) then
    return ""
  end
  return "/"
end

return M
