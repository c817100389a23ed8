-- Default of %RUSTUP_HOME% for the rules: the engine puts the variable's value in
-- place itself when it is set, and asks this script only when it is not.
-- rustup's default: ~/.rustup.
local value = os.getenv("RUSTUP_HOME")
if value ~= nil and value:sub(1, 1) == "/" then
  return value
end
local home = os.getenv("HOME")
if home == nil or home:sub(1, 1) ~= "/" then
  return nil, "HOME is not set: no default for RUSTUP_HOME"
end
return home .. "/.rustup"
