// The theme editor page. The theme's CSS comes from the host's bridge (window.__KR: the
// property "css", and setCSS_, registerUndo and log_). Every edit of the page is one step in
// the page's own history and one step registered with the host, which asks for TR.undo() and
// TR.redo() later; each of those reports back with registerUndo and setCSS_.
var TR = (function () {
    var past = [];    // CSS texts before each edit, oldest first
    var future = [];  // CSS texts undone, most recent last
    var current = "";
    var area = document.getElementById("tr-css");
    var preview = document.getElementById("tr-preview-style");
    var swatchMenu = document.getElementById("tr-swatch");
    var barColour = document.getElementById("tr-bar-colour");
    var textColour = document.getElementById("tr-text-colour");

    function bridge() { return window.__KR; }

    function swatches(css) {
        var found = [], re = /\.ui-bar-([a-z])\b/g, m;
        while ((m = re.exec(css)) !== null) {
            if (found.indexOf(m[1]) < 0) { found.push(m[1]); }
        }
        return found.length ? found : ["a"];
    }

    // The preview shows the chosen swatch's rules on the sample's parts.
    function show(css) {
        current = css;
        if (area.value !== css) { area.value = css; }
        var swatch = swatchMenu.value || "a";
        preview.textContent = css
            .replace(new RegExp("\\.ui-bar-" + swatch + "\\b", "g"), ".tr-bar")
            .replace(new RegExp("\\.ui-body-" + swatch + "\\b", "g"), ".tr-body")
            .replace(new RegExp("\\.ui-btn-" + swatch + "\\b", "g"), ".tr-btn");
        // The colour wells show the swatch's bar colours where the CSS gives them as #rrggbb.
        var bar = new RegExp("\\.ui-bar-" + swatch + "\\s*\\{([^}]*)\\}").exec(css);
        if (bar) {
            var bg = /background-color\s*:\s*(#[0-9a-fA-F]{6})/.exec(bar[1]);
            var fg = /(^|[;\s])color\s*:\s*(#[0-9a-fA-F]{6})/.exec(bar[1]);
            if (bg) { barColour.value = bg[1].toLowerCase(); }
            if (fg) { textColour.value = fg[2].toLowerCase(); }
        }
        var names = swatches(css);
        if (swatchMenu.options.length !== names.length) {
            swatchMenu.innerHTML = "";
            names.forEach(function (n) {
                var o = document.createElement("option");
                o.value = n; o.textContent = n.toUpperCase();
                swatchMenu.appendChild(o);
            });
        }
    }

    function store(css) {
        show(css);
        if (bridge()) { bridge().setCSS_(css); }
    }

    // One edit of the user's: a step in the page's history and one with the host.
    function edit(css) {
        if (css === current) { return; }
        past.push(current);
        future = [];
        store(css);
        if (bridge()) { bridge().registerUndo(); }
    }

    function undo() {
        if (!past.length) { return; }
        future.push(current);
        store(past.pop());
        if (bridge()) { bridge().registerUndo(); }
    }

    function redo() {
        if (!future.length) { return; }
        past.push(current);
        store(future.pop());
        if (bridge()) { bridge().registerUndo(); }
    }

    function setRule(selector, property, value) {
        var css = current;
        var re = new RegExp("(" + selector.replace(/[.*+?^${}()|[\]\\]/g, "\\$&") + "\\s*\\{)([^}]*)\\}");
        var m = re.exec(css);
        var declaration = property + ": " + value + ";";
        if (!m) {
            return css + (css && !/\n$/.test(css) ? "\n" : "") + selector + " { " + declaration + " }\n";
        }
        var body = m[2];
        var propRe = new RegExp("(^|[;\\s])" + property + "\\s*:[^;]*;?");
        body = propRe.test(body) ? body.replace(propRe, "$1" + declaration) : body.replace(/\s*$/, " " + declaration + " ");
        return css.slice(0, m.index) + m[1] + body + "}" + css.slice(m.index + m[0].length);
    }

    area.addEventListener("change", function () { edit(area.value); });
    swatchMenu.addEventListener("change", function () { show(current); });
    barColour.addEventListener("change", function () {
        edit(setRule(".ui-bar-" + (swatchMenu.value || "a"), "background-color", barColour.value));
    });
    textColour.addEventListener("change", function () {
        edit(setRule(".ui-bar-" + (swatchMenu.value || "a"), "color", textColour.value));
    });
    document.addEventListener("contextmenu", function (e) { e.preventDefault(); });

    function start() {
        var kr = bridge();
        if (!kr) { return; }
        show(kr.css || "");
        kr.cssChanged.connect(function () {
            if (kr.css !== current) { show(kr.css); }
        });
        document.body.setAttribute("data-tr-ready", "1");
    }
    if (window.__KR) { start(); } else { document.addEventListener("krbridgeready", start); }

    return { undo: undo, redo: redo, edit: edit, setRule: setRule, css: function () { return current; } };
})();
