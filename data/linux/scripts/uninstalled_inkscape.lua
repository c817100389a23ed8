-- Leftover gate of Inkscape: answers "/" when Inkscape is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "inkscape" },
  desktop = { "org.inkscape.Inkscape.desktop", "inkscape.desktop" },
  flatpak = { "org.inkscape.Inkscape" },
  snap = { "inkscape" },
})
