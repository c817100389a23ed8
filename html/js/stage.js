// The part of the page the views (junk, large files, duplicates) take turns
// in: #main and the dock below it. Only the chosen view draws; the others
// keep their state and carry on with what they run, and are drawn afresh
// from that state when chosen again. So a scan never depends on which view
// is on screen.

let active = null;     // the chosen view's id
let drawn = null;      // what it drew: { root, dock, update }
let queued = false;
let onStatus = () => {};

export function activeView() {
    return active;
}

export function choose(id) {
    active = id;
}

// Puts a view's screen on the page; ignored unless the view is the chosen
// one. announce: the screen is new to the user, so the focus goes to its
// heading, for keyboard and screen reader users to start reading there.
export function draw(owner, rendered, { announce = true, screen = '' } = {}) {
    if (owner !== active)
        return false;
    drawn = rendered;
    document.getElementById('main').replaceChildren(rendered.root);
    document.getElementById('dock').replaceChildren(...(rendered.dock ? [rendered.dock] : []));
    document.body.dataset.screen = screen;
    document.body.dataset.view = owner;
    if (announce) {
        rendered.root.querySelector('h1, h2')?.focus({ preventScroll: false });
        window.scrollTo(0, 0);
    }
    return true;
}

// Patches the screen on the page at most once a frame, however fast the
// program's callbacks come.
export function refresh(owner) {
    if (owner !== active || queued)
        return;
    queued = true;
    requestAnimationFrame(() => {
        queued = false;
        if (owner === active)
            drawn?.update?.();
    });
}

// Patches it now, for changes the user just made.
export function update(owner) {
    if (owner === active)
        drawn?.update?.();
}

// A view started or finished something that runs on (the tabs show it).
export function statusChanged() {
    onStatus();
}

export function onStatusChange(listener) {
    onStatus = listener;
}
