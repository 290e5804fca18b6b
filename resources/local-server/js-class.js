// A small class helper for the chart script (bluff-src.js): single inheritance with an
// `initialize` constructor. Load it before bluff-src.js.
//
//   var Shape = JS.Class({ initialize: function (name) { this.name = name; } });
//   var Square = JS.Class(Shape, { area: function () { return this.side * this.side; } });
//   Square.superclass.initialize.call(this, name);   // a parent's method
var JS = (function (existing) {
    'use strict';

    var JS = existing || {};

    // Copies the own properties of source onto target and returns target.
    JS.extend = function (target, source) {
        for (var key in source) {
            if (Object.prototype.hasOwnProperty.call(source, key)) {
                target[key] = source[key];
            }
        }
        return target;
    };

    // JS.Class([parent,] methods): a constructor whose instances run `initialize` with the
    // constructor's arguments. Works with or without `new`.
    JS.Class = function (parent, methods) {
        if (typeof parent !== 'function') {
            methods = parent;
            parent = null;
        }
        var klass = function () {
            if (typeof this.initialize === 'function') {
                this.initialize.apply(this, arguments);
            }
        };
        if (parent) {
            var Bridge = function () {};
            Bridge.prototype = parent.prototype;
            klass.prototype = new Bridge();
        }
        klass.prototype.constructor = klass;
        klass.superclass = parent ? parent.prototype : Object.prototype;
        JS.extend(klass.prototype, methods || {});
        return klass;
    };

    return JS;
})(typeof JS !== 'undefined' ? JS : undefined);
