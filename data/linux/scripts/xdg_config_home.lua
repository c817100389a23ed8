-- Default of %XDG_CONFIG_HOME% for the rules: the engine puts the variable's value in
-- place itself when it is set, and asks this script only when it is not.
-- The XDG base directory rules: ~/.config.
local value = os.getenv("XDG_CONFIG_HOME")
if value ~= nil and value:sub(1, 1) == "/" then
  return value
end
local home = os.getenv("HOME")
if home == nil or home:sub(1, 1) ~= "/" then
  return nil, "HOME is not set: no default for XDG_CONFIG_HOME"
end
return home .. "/.config"
