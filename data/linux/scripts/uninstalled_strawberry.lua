-- Leftover gate of Strawberry: answers "/" when Strawberry is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "strawberry" },
  desktop = { "org.strawberrymusicplayer.strawberry.desktop" },
  flatpak = { "org.strawberrymusicplayer.strawberry" },
  snap = { "strawberry" },
})
