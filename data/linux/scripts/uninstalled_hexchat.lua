-- Leftover gate of HexChat: answers "/" when HexChat is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "hexchat" },
  desktop = { "io.github.Hexchat.desktop", "hexchat.desktop" },
  flatpak = { "io.github.Hexchat" },
})
