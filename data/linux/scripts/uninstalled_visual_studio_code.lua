-- Leftover gate of Visual Studio Code: answers "/" when Visual Studio Code is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "code" },
  desktop = { "code.desktop", "com.visualstudio.code.desktop" },
  flatpak = { "com.visualstudio.code" },
  snap = { "code" },
  paths = { "/usr/share/code/code" },
})
