-- Leftover gate of VirtualBox: answers "/" when VirtualBox is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "VirtualBox", "virtualbox", "VBoxManage" },
  desktop = { "virtualbox.desktop", "org.virtualbox.VirtualBox.desktop" },
  paths = { "/usr/lib/virtualbox", "/opt/VirtualBox" },
})
