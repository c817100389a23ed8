-- Leftover gate of Remmina: answers "/" when Remmina is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "remmina" },
  desktop = { "org.remmina.Remmina.desktop", "remmina.desktop" },
  flatpak = { "org.remmina.Remmina" },
  snap = { "remmina" },
})
