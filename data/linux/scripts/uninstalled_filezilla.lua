-- Leftover gate of FileZilla: answers "/" when FileZilla is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "filezilla" },
  desktop = { "filezilla.desktop", "org.filezillaproject.Filezilla.desktop" },
  flatpak = { "org.filezillaproject.Filezilla" },
  snap = { "filezilla" },
})
