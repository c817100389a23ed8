-- Leftover gate of Geany: answers "/" when Geany is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "geany" },
  desktop = { "org.geany.Geany.desktop", "geany.desktop" },
  flatpak = { "org.geany.Geany" },
})
