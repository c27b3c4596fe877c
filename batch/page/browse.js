// The browse page of tdfbatch: cards for the datasets embedded in the page
// as JSON, newest first, with filters, a page at a time.
(function () {
  "use strict";
  var PAGE_SIZE = 60;
  var data = JSON.parse(document.getElementById("tdfbatch-data").textContent);
  var byId = function (id) { return document.getElementById(id); };
  var controls = {
    satellite: byId("satellite"), kind: byId("kind"), from: byId("from"), to: byId("to"),
    search: byId("search"), failed: byId("failed-only")
  };
  var two = function (n) { return n < 10 ? "0" + n : String(n); };

  // One object per dataset, with what the filters compare worked out once.
  var items = data.items.map(function (a) {
    var item = {
      path: a[0], gif: a[1], thumb: a[2], ok: a[3] === 1, message: a[4], satellite: a[5],
      kind: a[6], time: a[7], rows: a[8], columns: a[9], storage: a[10], bytes: a[11],
      day: "", when: "time unknown"
    };
    if (item.time !== null) {
      var d = new Date(item.time * 1000);
      item.day = d.getUTCFullYear() + "-" + two(d.getUTCMonth() + 1) + "-" + two(d.getUTCDate());
      item.when = item.day + " " + two(d.getUTCHours()) + ":" + two(d.getUTCMinutes()) + ":" +
                  two(d.getUTCSeconds()) + " UTC";
    }
    item.text = [item.path, item.satellite, item.kind, item.storage, item.message, item.day]
      .join("\n").toLowerCase();
    return item;
  });
  // Newest first; datasets without a time last; then by path.
  items.sort(function (a, b) {
    if (a.time !== b.time) {
      if (a.time === null) return 1;
      if (b.time === null) return -1;
      return b.time - a.time;
    }
    return a.path < b.path ? -1 : a.path > b.path ? 1 : 0;
  });

  function fillChoices(select, field) {
    var seen = {};
    items.forEach(function (item) { if (item[field]) seen[item[field]] = (seen[item[field]] || 0) + 1; });
    Object.keys(seen).sort().forEach(function (value) {
      var option = document.createElement("option");
      option.value = value;
      option.textContent = value + " (" + seen[value] + ")";
      select.appendChild(option);
    });
  }
  fillChoices(controls.satellite, "satellite");
  fillChoices(controls.kind, "kind");

  // A path relative to the page as a URL: each name percent-encoded.
  function href(path) { return path.split("/").map(encodeURIComponent).join("/"); }

  function element(tag, className, text) {
    var e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function card(item) {
    var article = element("article", item.ok ? "card" : "card failed");
    var slash = item.path.lastIndexOf("/");
    var name = item.path.slice(slash + 1);
    if (item.gif) {
      var shot = element("a", "shot");
      shot.href = href(item.gif);
      shot.title = "open the quicklook " + item.gif;
      var img = element("img");
      img.loading = "lazy";
      img.decoding = "async";
      img.alt = (item.ok ? "quicklook of " : "earlier quicklook of ") + item.path;
      img.src = href(item.thumb || item.gif);
      shot.appendChild(img);
      article.appendChild(shot);
    } else {
      article.appendChild(element("div", "shot none", "no quicklook"));
    }
    var meta = element("div", "meta");
    var title = element("h2");
    if (item.gif) {
      var link = element("a", "", name);
      link.href = href(item.gif);
      title.appendChild(link);
    } else {
      title.textContent = name;
    }
    meta.appendChild(title);
    meta.appendChild(element("p", "when", item.when));
    var facts = element("ul", "facts");
    if (item.satellite) facts.appendChild(element("li", "sat", item.satellite));
    if (item.kind) facts.appendChild(element("li", "kind", item.kind));
    if (item.rows >= 0) facts.appendChild(element("li", "size", item.columns + " \u00d7 " + item.rows));
    if (item.storage) facts.appendChild(element("li", "storage", item.storage));
    meta.appendChild(facts);
    if (slash > 0) meta.appendChild(element("p", "folder", item.path.slice(0, slash)));
    if (!item.ok) meta.appendChild(element("p", "message", item.message || "failed"));
    article.appendChild(meta);
    return article;
  }

  var state = { page: 0, matching: items };

  function readFilters() {
    return {
      satellite: controls.satellite.value, kind: controls.kind.value, from: controls.from.value,
      to: controls.to.value, search: controls.search.value.trim().toLowerCase(),
      failed: controls.failed.checked
    };
  }

  function select(f) {
    return items.filter(function (item) {
      if (f.satellite && item.satellite !== f.satellite) return false;
      if (f.kind && item.kind !== f.kind) return false;
      if ((f.from || f.to) && !item.day) return false;
      if (f.from && item.day < f.from) return false;
      if (f.to && item.day > f.to) return false;
      if (f.failed && item.ok) return false;
      if (f.search && item.text.indexOf(f.search) < 0) return false;
      return true;
    });
  }

  function render() {
    var list = state.matching;
    var pages = Math.max(1, Math.ceil(list.length / PAGE_SIZE));
    state.page = Math.min(state.page, pages - 1);
    var cards = byId("cards");
    var fragment = document.createDocumentFragment();
    var first = state.page * PAGE_SIZE;
    list.slice(first, first + PAGE_SIZE).forEach(function (item) { fragment.appendChild(card(item)); });
    if (list.length === 0) fragment.appendChild(element("p", "empty", "No dataset matches these filters."));
    cards.replaceChildren(fragment);
    var failed = list.reduce(function (n, item) { return n + (item.ok ? 0 : 1); }, 0);
    var status = byId("status");
    status.textContent = list.length + " of " + items.length + " datasets" +
      (failed ? ", " + failed + " failed" : "") +
      (list.length > PAGE_SIZE ? " \u2014 " + (first + 1) + " to " + Math.min(first + PAGE_SIZE, list.length) +
       " shown" : "");
    status.setAttribute("data-matching", String(list.length));
    byId("page").textContent = "page " + (state.page + 1) + " of " + pages;
    byId("prev").disabled = state.page === 0;
    byId("next").disabled = state.page >= pages - 1;
  }

  // The filters live in the address's fragment, so that a reload or a link
  // keeps them.
  function saveFilters(f) {
    var parts = [];
    Object.keys(f).forEach(function (key) {
      if (f[key]) parts.push(key + "=" + encodeURIComponent(f[key] === true ? "1" : f[key]));
    });
    if (state.page) parts.push("page=" + (state.page + 1));
    var hash = parts.length ? "#" + parts.join("&") : "";
    if (hash !== location.hash) history.replaceState(null, "", hash || location.pathname + location.search);
  }

  function loadFilters() {
    location.hash.replace(/^#/, "").split("&").forEach(function (part) {
      var eq = part.indexOf("=");
      if (eq < 0) return;
      var key = part.slice(0, eq), value = decodeURIComponent(part.slice(eq + 1));
      if (key === "failed") controls.failed.checked = value === "1";
      else if (key === "page") state.page = Math.max(0, (parseInt(value, 10) || 1) - 1);
      else if (controls[key]) controls[key].value = value;
    });
  }

  function apply(keepPage) {
    var f = readFilters();
    if (!keepPage) state.page = 0;
    state.matching = select(f);
    render();
    saveFilters(f);
  }

  Object.keys(controls).forEach(function (key) {
    controls[key].addEventListener(key === "search" ? "input" : "change", function () { apply(false); });
  });
  byId("filters").addEventListener("submit", function (e) { e.preventDefault(); });
  byId("clear").addEventListener("click", function () {
    Object.keys(controls).forEach(function (key) {
      if (key === "failed") controls[key].checked = false; else controls[key].value = "";
    });
    apply(false);
  });
  function turn(step) {
    state.page += step;
    render();
    saveFilters(readFilters());
    window.scrollTo(0, 0);
  }
  byId("prev").addEventListener("click", function () { turn(-1); });
  byId("next").addEventListener("click", function () { turn(1); });

  byId("generated").textContent = items.length + " datasets, page made " + data.generated;
  loadFilters();
  apply(true);
  document.documentElement.setAttribute("data-ready", String(performance.now()));
})();
