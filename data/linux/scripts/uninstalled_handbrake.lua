-- Leftover gate of HandBrake: answers "/" when HandBrake is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "ghb", "HandBrakeCLI", "handbrake" },
  desktop = { "fr.handbrake.ghb.desktop", "ghb.desktop" },
  flatpak = { "fr.handbrake.ghb" },
})
