-- Leftover gate of AnyDesk: answers "/" when AnyDesk is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "anydesk" },
  desktop = { "anydesk.desktop", "com.anydesk.Anydesk.desktop" },
  flatpak = { "com.anydesk.Anydesk" },
  paths = { "/usr/libexec/anydesk", "/opt/anydesk" },
})
