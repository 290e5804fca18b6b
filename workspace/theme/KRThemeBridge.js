// Runs in every theme editor document before its own scripts: connects the host's bridge
// object and publishes it as window.__KR, then tells the page with a "krbridgeready" event.
(function () {
    function connect() {
        if (typeof QWebChannel === "undefined" || typeof qt === "undefined" || !qt.webChannelTransport) {
            return;
        }
        new QWebChannel(qt.webChannelTransport, function (channel) {
            window.__KR = channel.objects.__KR;
            var announce = function () {
                document.dispatchEvent(new CustomEvent("krbridgeready"));
            };
            if (document.readyState === "loading") {
                document.addEventListener("DOMContentLoaded", announce);
            } else {
                announce();
            }
        });
    }
    connect();
})();
