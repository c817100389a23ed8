// The program's side of the page. Host functions are page globals that the
// web view defines and that return at once; results of long work come back
// as calls of page globals by name, so every callback must be a global
// before the page reports itself ready.

export function has(name) {
    return typeof window[name] === 'function';
}

// Calls a host function. Returns { ok, value }; a missing function or one
// that fails on the program's side is a value, never an exception, so the
// page can say what went wrong instead of stopping.
export function call(name, ...args) {
    if (!has(name))
        return { ok: false, error: `${name} is not available` };
    try {
        return { ok: true, value: window[name](...args) };
    } catch (error) {
        console.error(`${name} failed:`, error);
        return { ok: false, error: String(error?.message ?? error) };
    }
}

// Installs page globals for the program to call. A throwing handler is
// logged here: it must not leave the program's event stream half-handled.
export function listen(handlers) {
    for (const [name, handler] of Object.entries(handlers)) {
        window[name] = function (...args) {
            try {
                handler(...args);
            } catch (error) {
                console.error(`${name} failed:`, error);
            }
        };
    }
}
