// The script that every served page loads first (runtime.js, compiled in).
// It is a function expression; the server appends the call with the view's
// configuration: kRuntimeScript + "({...});".
#pragma once

namespace wke {
extern const char kRuntimeScript[];
}
