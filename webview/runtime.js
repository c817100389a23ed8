// Page side of the web view. Loaded before any page script; the server
// calls this function with { bound: [names], zoom, drag, drop }.
//
// Page to native: every bound name becomes a global function that makes a
// synchronous POST and returns the native result. Native to page: one
// event stream per page carries calls, globals, script, navigation, zoom.
// Values travel in the tagged form described in webview/values.h.
(function (config) {
    'use strict';

    var pageId = (function () {
        var bytes = new Uint8Array(16);
        crypto.getRandomValues(bytes);
        return Array.prototype.map.call(bytes, function (b) { return (b + 256).toString(16).slice(1); }).join('');
    })();
    var boundNames = {};
    var maxDepth = 64;
    var dragEnabled = config.drag !== false;
    var dropEnabled = config.drop !== false;
    var reportedKeyCount = -1;

    function post(path, body) {
        var xhr = new XMLHttpRequest();
        xhr.open('POST', path, false);
        xhr.setRequestHeader('Content-Type', 'application/json');
        xhr.setRequestHeader('X-Wke-Request', '1');
        xhr.send(JSON.stringify(body));
        if (xhr.status !== 200)
            throw new Error('native request failed with status ' + xhr.status);
        return xhr.responseText ? JSON.parse(xhr.responseText) : {};
    }

    // Names of the page's own global functions, so that the host can tell
    // which callbacks exist.
    function pageGlobals() {
        var names = [];
        Object.keys(window).forEach(function (key) {
            try {
                if (!boundNames[key] && typeof window[key] === 'function')
                    names.push(key);
            } catch (e) { /* a throwing getter is no function of ours */ }
        });
        return names;
    }

    function toBase64(bytes) {
        var text = '';
        for (var i = 0; i < bytes.length; i += 0x8000)
            text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
        return btoa(text);
    }

    function fromBase64(text) {
        var raw = atob(text);
        var bytes = new Uint8Array(raw.length);
        for (var i = 0; i < raw.length; ++i)
            bytes[i] = raw.charCodeAt(i);
        return bytes.buffer;
    }

    function encode(value, depth) {
        if (depth > maxDepth)
            throw new TypeError('value nested too deeply for a native call');
        if (value === undefined)
            return { $: 'u' };
        if (value === null || typeof value === 'boolean' || typeof value === 'string')
            return value;
        if (typeof value === 'number')
            return isFinite(value) ? value : { $: 'd', v: String(value) };
        if (typeof value === 'bigint')
            return String(value);
        if (typeof value === 'symbol')
            return { $: 'u' };
        if (typeof value === 'function') {
            if (value.__wkeNative !== undefined)
                return { $: 'nf', id: value.__wkeNative };
            return { $: 'f', n: value.name && window[value.name] === value ? value.name : '' };
        }
        if (value === window)
            return { $: 'g' };
        if (value instanceof ArrayBuffer)
            return { $: 'b', v: toBase64(new Uint8Array(value)) };
        if (ArrayBuffer.isView(value))
            return { $: 'b', v: toBase64(new Uint8Array(value.buffer, value.byteOffset, value.byteLength)) };
        if (Array.isArray(value))
            return { $: 'a', v: value.map(function (item) { return encode(item, depth + 1); }) };
        var keys = Object.keys(value);
        return { $: 'o', k: keys, v: keys.map(function (key) { return encode(value[key], depth + 1); }) };
    }

    function nativeStub(id) {
        var stub = function () { return callNative({ native: id }, arguments); };
        Object.defineProperty(stub, '__wkeNative', { value: id });
        return stub;
    }

    function decode(value) {
        if (value === null || typeof value !== 'object')
            return value;
        switch (value.$) {
        case 'u': return undefined;
        case 'd': return Number(value.v);
        case 'a': return value.v.map(decode);
        case 'o': {
            var object = {};
            for (var i = 0; i < value.k.length; ++i)
                object[value.k[i]] = decode(value.v[i]);
            return object;
        }
        case 'b': return fromBase64(value.v);
        case 'f': return typeof window[value.n] === 'function' ? window[value.n] : undefined;
        case 'nf': return nativeStub(value.id);
        case 'g': return window;
        }
        return undefined;
    }

    function callNative(target, args) {
        var body = { page: pageId, args: Array.prototype.map.call(args, function (a) { return encode(a, 0); }) };
        if (target.native !== undefined)
            body.native = target.native;
        else
            body.name = target.name;
        // Globals defined since the last report travel with the call, so that
        // a callback defined just before a native call is known to the host.
        var keyCount = Object.keys(window).length;
        if (keyCount !== reportedKeyCount) {
            reportedKeyCount = keyCount;
            body.globals = pageGlobals();
        }
        var reply = post('/__wke/call', body);
        if (!reply.ok)
            throw new Error(reply.error || 'native call failed');
        return decode(reply.value);
    }

    function report(kind, fields) {
        var body = { page: pageId, kind: kind };
        for (var key in fields)
            body[key] = fields[key];
        try {
            return post('/__wke/report', body);
        } catch (e) {
            console.error(e);
            return {};
        }
    }

    config.bound.forEach(function (name) {
        boundNames[name] = true;
        window[name] = function () { return callNative({ name: name }, arguments); };
    });

    function applyZoom(factor) {
        if (document.documentElement)
            document.documentElement.style.zoom = factor === 1 ? '' : String(factor);
    }

    function currentUrl() {
        return location.pathname + location.search + location.hash;
    }

    function handle(event) {
        try {
            switch (event.t) {
            case 'call': {
                var fn = window[event.n];
                if (typeof fn === 'function')
                    fn.apply(window, event.a.map(decode));
                break;
            }
            case 'set': window[event.n] = decode(event.v); break;
            case 'run': (0, eval)(event.s); break;
            case 'nav': location.href = event.u; break;
            case 'zoom': applyZoom(event.f); break;
            case 'drag': dragEnabled = event.drag; dropEnabled = event.drop; break;
            case 'close': stream.close(); window.close(); break;
            }
        } catch (e) {
            console.error(e);
        }
    }

    var stream = new EventSource('/__wke/events?page=' + pageId);
    var opened = false;
    var loaded = document.readyState !== 'loading';
    var ready = false;
    function maybeReady() {
        if (ready || !opened || !loaded)
            return;
        ready = true;
        reportedKeyCount = Object.keys(window).length;
        applyZoom(config.zoom);
        report('ready', { url: currentUrl(), title: document.title, globals: pageGlobals() });
        if (document.head) {
            var lastTitle = document.title;
            new MutationObserver(function () {
                if (document.title !== lastTitle) {
                    lastTitle = document.title;
                    report('title', { title: lastTitle });
                }
            }).observe(document.head, { subtree: true, childList: true, characterData: true });
        }
    }
    stream.onopen = function () { opened = true; maybeReady(); };
    stream.onmessage = function (message) { handle(JSON.parse(message.data)); };
    document.addEventListener('DOMContentLoaded', function () { loaded = true; maybeReady(); });
    window.addEventListener('hashchange', function () { report('url', { url: currentUrl() }); });

    // Links go through the host's navigation and download hooks. Other
    // schemes (exec://, file://) only mean something to the host; another
    // web site opens beside the page instead of replacing it.
    document.addEventListener('click', function (event) {
        if (event.defaultPrevented || event.button !== 0)
            return;
        var link = event.target && event.target.closest ? event.target.closest('a[href]') : null;
        if (!link)
            return;
        var href = link.href;
        if (link.hasAttribute('download')) {
            if (!report('navigate', { url: href, download: true, name: link.getAttribute('download') }).proceed)
                event.preventDefault();
            return;
        }
        var proceed = report('navigate', { url: href }).proceed;
        var url = new URL(href, location.href);
        if (!proceed || (url.protocol !== 'http:' && url.protocol !== 'https:')) {
            event.preventDefault();
        } else if (url.origin !== location.origin) {
            event.preventDefault();
            window.open(url.href, '_blank', 'noopener');
        }
    }, true);

    document.addEventListener('dragstart', function (event) {
        if (!dragEnabled)
            event.preventDefault();
    }, true);
    ['dragover', 'drop'].forEach(function (type) {
        document.addEventListener(type, function (event) {
            if (dropEnabled)
                return;
            event.preventDefault();
            if (event.dataTransfer)
                event.dataTransfer.dropEffect = 'none';
        }, true);
    });
})
