-- Leftover gate of calibre: answers "/" when calibre is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "calibre", "ebook-viewer", "ebook-convert" },
  desktop = { "calibre-gui.desktop", "com.calibre_ebook.calibre.desktop" },
  flatpak = { "com.calibre_ebook.calibre" },
  paths = { "/opt/calibre/calibre" },
})
