-- Leftover gate of Spotify: answers "/" when Spotify is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "spotify" },
  desktop = { "spotify.desktop", "com.spotify.Client.desktop" },
  flatpak = { "com.spotify.Client" },
  snap = { "spotify" },
  paths = { "/usr/share/spotify/spotify", "/opt/spotify/spotify" },
})
