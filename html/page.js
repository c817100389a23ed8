// A first page: what the host answers about this machine. Every host
// function is a page global defined by the web view's runtime.
"use strict";

function fact(label, value) {
  const facts = document.getElementById("facts");
  const term = document.createElement("dt");
  const detail = document.createElement("dd");
  term.textContent = label;
  detail.textContent = String(value);
  facts.append(term, detail);
}

function show() {
  const product = baseSystemInfo(1);
  if (product) {
    document.getElementById("product").textContent = product;
    document.title = product;
  }
  fact("version", baseSystemInfo(0));
  fact("system", kernelVersion());
  fact("64-bit system", baseSystemInfo(4));
  fact("program folder", getCurrentModuleFileDirectory());
  fact("temporary folder", tempPath());
  fact("device id", getDeviceid());
}

// Called by the host when the page has loaded; the host sets "handle",
// "pid" and "cmdline" just before.
window.addEventListener("load", show);
