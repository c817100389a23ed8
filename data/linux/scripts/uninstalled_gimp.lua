-- Leftover gate of GIMP: answers "/" when GIMP is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "gimp", "gimp-2.10", "gimp-3.0", "gimp-3" },
  desktop = { "gimp.desktop", "org.gimp.GIMP.desktop" },
  flatpak = { "org.gimp.GIMP" },
  snap = { "gimp" },
})
