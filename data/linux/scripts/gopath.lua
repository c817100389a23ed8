-- Default of %GOPATH% for the rules: the engine puts the variable's value in
-- place itself when it is set, and asks this script only when it is not.
-- Go's default: ~/go (a GOPATH that lists several folders is not followed).
local value = os.getenv("GOPATH")
if value ~= nil and value:sub(1, 1) == "/" then
  return value
end
local home = os.getenv("HOME")
if home == nil or home:sub(1, 1) ~= "/" then
  return nil, "HOME is not set: no default for GOPATH"
end
return home .. "/go"
