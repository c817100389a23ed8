-- Leftover gate of Pidgin: answers "/" when Pidgin is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "pidgin", "finch" },
  desktop = { "pidgin.desktop", "im.pidgin.Pidgin.desktop" },
  flatpak = { "im.pidgin.Pidgin" },
})
