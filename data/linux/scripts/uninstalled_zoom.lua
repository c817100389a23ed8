-- Leftover gate of Zoom: answers "/" when Zoom is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "zoom" },
  desktop = { "Zoom.desktop", "us.zoom.Zoom.desktop" },
  flatpak = { "us.zoom.Zoom" },
  snap = { "zoom-client" },
  paths = { "/opt/zoom/zoom" },
})
