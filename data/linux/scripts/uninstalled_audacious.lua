-- Leftover gate of Audacious: answers "/" when Audacious is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "audacious" },
  desktop = { "audacious.desktop" },
})
