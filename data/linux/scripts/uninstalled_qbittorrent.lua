-- Leftover gate of qBittorrent: answers "/" when qBittorrent is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "qbittorrent", "qbittorrent-nox" },
  desktop = { "org.qbittorrent.qBittorrent.desktop", "qbittorrent.desktop" },
  flatpak = { "org.qbittorrent.qBittorrent" },
  snap = { "qbittorrent-arnatious" },
})
