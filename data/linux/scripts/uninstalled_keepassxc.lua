-- Leftover gate of KeePassXC: answers "/" when KeePassXC is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "keepassxc", "keepassxc-cli" },
  desktop = { "org.keepassxc.KeePassXC.desktop", "keepassxc.desktop" },
  flatpak = { "org.keepassxc.KeePassXC" },
  snap = { "keepassxc" },
})
