/*
 * Picture viewer of the album pages.
 *
 * A thumbnail link <a class="viewer" href="Images/x.jpg"
 * onclick="return vw.expand(this)"><img alt="description" ...></a> opens
 * its picture over the page, scaled to fit the window, with a caption
 * below it. A click anywhere or Esc closes it; the Left/Right arrow keys
 * (and Home/End) step to the neighbouring pictures of the page.
 *
 * Settings live on the global object vw; each is read when a picture is
 * shown, so values assigned after this script has loaded take effect:
 *   graphicsDir             folder of the viewer's pictures
 *   outlineType             "rounded-white" draws a white rounded frame,
 *                           anything else a plain frame
 *   numberOfImagesToPreload pictures after the shown one loaded ahead
 *   showCredits             kept for the pages; the viewer shows none
 *   captionEval             expression giving the caption, evaluated with
 *                           this = {thumb: <img>, a: <a>}
 * A page that assigns them before this script has loaded puts them on an
 * object vw of its own, which this script takes over. The defaults equal
 * the values the album pages assign.
 *
 * Plain script: no modules, no network, nothing outside this folder; the
 * page's own style sheet supplies the classes "viewer-caption" and
 * "viewer-loading".
 */
var vw = (function (old) {
    "use strict";

    var self = {
        graphicsDir: "viewer/graphics/",
        outlineType: "rounded-white",
        numberOfImagesToPreload: 0,
        showCredits: false,
        captionEval: "this.thumb.alt",
        margin: 24,
        padding: 10
    };
    // Keep what a page may have set on an object of its own beforehand.
    if (old && typeof old === "object") {
        for (var k in old) {
            if (Object.prototype.hasOwnProperty.call(old, k)) self[k] = old[k];
        }
    }

    var overlay = null;     // the open view, or null
    var current = null;     // the anchor shown
    var loading = null;     // the "loading" box over the thumbnail
    var token = 0;          // drops stale loads after a quick step

    function anchors() {
        return Array.prototype.slice.call(document.querySelectorAll("a.viewer"));
    }

    function thumbOf(a) {
        return a.getElementsByTagName("img")[0] || null;
    }

    function captionOf(a) {
        var ctx = {thumb: thumbOf(a), a: a};
        try {
            var v = new Function("return (" + self.captionEval + ");").call(ctx);
            return v == null ? "" : String(v);
        } catch (e) {
            return ctx.thumb ? ctx.thumb.alt : "";
        }
    }

    function css(el, rules) {
        for (var k in rules) el.style[k] = rules[k];
        return el;
    }

    function showLoading(a) {
        hideLoading();
        var t = thumbOf(a) || a;
        var r = t.getBoundingClientRect();
        loading = css(document.createElement("div"), {
            position: "fixed", zIndex: "10001",
            left: Math.round(r.left + r.width / 2 - 40) + "px",
            top: Math.round(r.top + r.height / 2 - 10) + "px"
        });
        loading.className = "viewer-loading";
        loading.textContent = "Loading...";
        document.body.appendChild(loading);
    }

    function hideLoading() {
        if (loading && loading.parentNode) loading.parentNode.removeChild(loading);
        loading = null;
    }

    function build() {
        overlay = css(document.createElement("div"), {
            position: "fixed", left: "0", top: "0", right: "0", bottom: "0",
            zIndex: "10000", background: "rgba(0, 0, 0, 0.72)", cursor: "pointer",
            opacity: "0", transition: "opacity 0.15s ease-out"
        });
        overlay.id = "viewer-overlay";
        var box = css(document.createElement("div"), {
            position: "absolute", boxSizing: "content-box",
            boxShadow: "0 6px 28px rgba(0, 0, 0, 0.6)"
        });
        box.className = "viewer-box";
        var img = css(document.createElement("img"), {display: "block", margin: "0 auto"});
        img.className = "viewer-image";
        var caption = css(document.createElement("div"), {
            whiteSpace: "pre-line", textAlign: "left", font: "14px/1.4 sans-serif",
            padding: "8px 4px 2px", overflowWrap: "break-word"
        });
        caption.className = "viewer-caption";
        box.appendChild(img);
        box.appendChild(caption);
        overlay.appendChild(box);
        overlay.addEventListener("click", close);
        document.body.appendChild(overlay);
        // Let the browser see the transparent state before fading in.
        void overlay.offsetWidth;
        overlay.style.opacity = "1";
    }

    function parts() {
        var box = overlay.firstChild;
        return {box: box, img: box.firstChild, caption: box.lastChild};
    }

    // Fits the loaded picture and its caption into the window, centred.
    function layout() {
        if (!overlay) return;
        var p = parts();
        var nw = p.img.naturalWidth, nh = p.img.naturalHeight;
        if (!nw || !nh) return;
        var pad = self.padding, m = self.margin;
        var rounded = self.outlineType === "rounded-white";
        css(p.box, {
            padding: pad + "px", background: "white",
            borderRadius: rounded ? "10px" : "0", border: rounded ? "0" : "1px solid #444"
        });
        var availW = Math.max(40, window.innerWidth - 2 * (m + pad));
        var w = Math.min(nw, availW);
        // The caption's height depends on the width it gets: measure at the
        // width of the first guess, then fit again once.
        for (var pass = 0; pass < 2; pass++) {
            p.caption.style.width = w + "px";
            var capH = p.caption.textContent ? p.caption.offsetHeight : 0;
            var availH = Math.max(40, window.innerHeight - 2 * (m + pad) - capH);
            var scale = Math.min(1, availW / nw, availH / nh);
            w = Math.max(1, Math.floor(nw * scale));
        }
        var h = Math.max(1, Math.floor(nh * w / nw));
        css(p.img, {width: w + "px", height: h + "px"});
        p.caption.style.width = w + "px";
        var bw = p.box.offsetWidth, bh = p.box.offsetHeight;
        css(p.box, {
            left: Math.max(0, Math.round((window.innerWidth - bw) / 2)) + "px",
            top: Math.max(0, Math.round((window.innerHeight - bh) / 2)) + "px"
        });
    }

    function preload(a) {
        var list = anchors(), i = list.indexOf(a);
        var n = parseInt(self.numberOfImagesToPreload, 10) || 0;
        for (var j = 1; j <= n && i + j < list.length; j++) new Image().src = list[i + j].href;
    }

    function show(a) {
        current = a;
        var mine = ++token;
        showLoading(a);
        var pic = new Image();
        pic.onload = function () {
            if (mine !== token) return;
            hideLoading();
            if (!overlay) build();
            var p = parts();
            p.img.src = pic.src;
            p.img.alt = "";
            p.caption.textContent = captionOf(a);
            p.caption.style.display = p.caption.textContent ? "block" : "none";
            layout();
            preload(a);
        };
        pic.onerror = function () {
            if (mine !== token) return;
            hideLoading();
            // A picture that cannot be shown is left to the browser.
            if (!overlay) window.location.href = a.href;
        };
        pic.src = a.href;
    }

    function close() {
        token++;
        hideLoading();
        if (overlay && overlay.parentNode) overlay.parentNode.removeChild(overlay);
        overlay = null;
        current = null;
    }

    function step(delta, absolute) {
        var list = anchors();
        if (!current || !list.length) return;
        var i = absolute ? (delta < 0 ? 0 : list.length - 1) : list.indexOf(current) + delta;
        if (i < 0 || i >= list.length || list[i] === current) return;
        show(list[i]);
    }

    document.addEventListener("keydown", function (e) {
        if (!current) return;
        var keys = {Escape: 0, Esc: 0, ArrowLeft: -1, Left: -1, ArrowRight: 1, Right: 1, Home: -2, End: 2};
        if (!(e.key in keys)) return;
        var k = keys[e.key];
        if (k === 0) close();
        else step(k < 0 ? -1 : 1, Math.abs(k) === 2);
        e.preventDefault();
    });
    window.addEventListener("resize", layout);

    // Opens the picture of the thumbnail link a; false keeps the browser
    // from following the link.
    self.expand = function (a) {
        if (!a || !a.href) return true;
        show(a);
        return false;
    };
    self.close = close;
    return self;
})(typeof vw === "undefined" ? null : vw);
