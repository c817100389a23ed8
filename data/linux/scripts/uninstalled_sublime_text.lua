-- Leftover gate of Sublime Text: answers "/" when Sublime Text is not installed (its
-- leftover folders are then looked at) and "" when it is (they are not).
local folder = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
return dofile(folder .. "/installcheck.lua").gate({
  commands = { "subl", "sublime_text", "sublime-text" },
  desktop = { "sublime_text.desktop", "com.sublimetext.three.desktop" },
  flatpak = { "com.sublimetext.three" },
  snap = { "sublime-text" },
  paths = { "/opt/sublime_text/sublime_text" },
})
