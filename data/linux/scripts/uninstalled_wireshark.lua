-- Leftover gate of Wireshark: answers "/" when Wireshark is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "wireshark", "tshark" },
  desktop = { "org.wireshark.Wireshark.desktop", "wireshark.desktop" },
  flatpak = { "org.wireshark.Wireshark" },
  snap = { "wireshark" },
})
