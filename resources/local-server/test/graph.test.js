// Tests of the chart script (js-class.js + bluff-src.js) against a canvas context that records
// every call. Run with: node --test resources/local-server/test/graph.test.js
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const vm = require('node:vm');

const root = path.join(__dirname, '..');
const scripts = ['js-class.js', 'bluff-src.js'].map((name) => ({
    name,
    source: fs.readFileSync(path.join(root, name), 'utf8'),
}));

// A 2D context that records calls with the fill and stroke style and font current at the time.
function makeContext() {
    const calls = [];
    const ctx = {
        calls,
        fillStyle: '#000000', strokeStyle: '#000000', font: '10px sans-serif',
        lineWidth: 1, globalAlpha: 1, textAlign: 'start', textBaseline: 'alphabetic', lineJoin: 'miter',
        measureText(text) {
            const size = parseFloat(/(\d+(?:\.\d+)?)px/.exec(this.font)[1]);
            return { width: String(text).length * size * 0.6 };
        },
        createLinearGradient(...args) {
            calls.push({ name: 'createLinearGradient', args });
            const gradient = { stops: [], addColorStop(offset, color) { this.stops.push(color); } };
            return gradient;
        },
    };
    for (const name of ['fillRect', 'fillText', 'beginPath', 'moveTo', 'lineTo', 'arc', 'closePath',
                        'fill', 'stroke']) {
        ctx[name] = function (...args) {
            calls.push({ name, args, fillStyle: this.fillStyle, strokeStyle: this.strokeStyle,
                         font: this.font, textAlign: this.textAlign });
        };
    }
    return ctx;
}

// A fresh window with the two scripts loaded in order and one canvas, "chart".
function load() {
    const canvas = { id: 'chart', width: 300, height: 150, style: {}, context: makeContext(),
                     getContext(kind) { return kind === '2d' ? this.context : null; } };
    const context = vm.createContext({
        document: { getElementById: (id) => (id === 'chart' ? canvas : null) },
    });
    for (const script of scripts) {
        vm.runInContext(script.source, context, { filename: script.name });
    }
    return { window: context, Bluff: context.Bluff, canvas, calls: canvas.context.calls };
}

function typeNames(Bluff) {
    const names = [];
    for (const name of Object.keys(Bluff)) {
        if (name === 'Mini') {
            names.push(...Object.keys(Bluff.Mini).map((n) => 'Mini.' + n));
        } else if (typeof Bluff[name] === 'function' && name !== 'Base') {
            names.push(name);
        }
    }
    return names;
}

function make(env, type, size = '300x200') {
    const parts = type.split('.');
    const Type = parts.length === 2 ? env.Bluff[parts[0]][parts[1]] : env.Bluff[type];
    return new Type('chart', size);
}

function texts(calls) {
    return calls.filter((c) => c.name === 'fillText').map((c) => c.args[0]);
}

// Every coordinate handed to the context is a finite number: NaN draws nothing and hides faults.
function assertFinite(calls, what) {
    for (const call of calls) {
        for (const arg of call.args) {
            if (typeof arg === 'number') {
                assert.ok(Number.isFinite(arg), `${what}: ${call.name}(${call.args.join(', ')})`);
            }
        }
    }
}

const datasets = {
    normal: (g) => {
        g.data('Apples', [1, 2, 3, 4, 4, 3]);
        g.data('Pears', [4, 1, 0, 2, 5, 1], '#ff0000');
        g.labels = { 0: 'Mon', 2: 'Wed', 5: 'Sat' };
    },
    empty: () => {},
    'empty series': (g) => g.data('Nothing', []),
    'one point': (g) => g.data('One', [7]),
    'all zero': (g) => g.data('Zero', [0, 0, 0]),
    negative: (g) => {
        g.data('Loss', [-5, -2, -8]);
        g.data('Mixed', [3, -4, 0]);
    },
    'gaps and junk': (g) => g.data('Gaps', [1, null, 'x', undefined, NaN, Infinity, '4', 2]),
    'long labels': (g) => {
        g.data('A series with a very long name that cannot fit in the legend at all, not even close', [1, 5, 2]);
        g.labels = { 0: 'An extremely long category label that runs past the canvas', 1: 'x'.repeat(500) };
    },
    'labels beyond the data': (g) => {
        g.data('Short', [1, 2]);
        g.labels = { 0: 'a', 7: 'h', '-1': 'z' };
    },
};

test('the scripts load in order and define every chart type', () => {
    const env = load();
    assert.equal(typeof env.window.JS.Class, 'function');
    const names = typeNames(env.Bluff);
    for (const required of ['Line', 'Bar', 'Area', 'Pie', 'SideBar', 'StackedBar', 'StackedArea',
                            'Spider', 'Net', 'Dot', 'AccumulatorBar', 'SideStackedBar',
                            'Mini.Bar', 'Mini.Pie', 'Mini.SideBar']) {
        assert.ok(names.includes(required), required);
    }
});

test('every type draws every kind of data without throwing or bad coordinates', () => {
    const types = typeNames(load().Bluff);
    for (const type of types) {
        for (const [kind, fill] of Object.entries(datasets)) {
            const env = load();
            const g = make(env, type);
            g.title = 'Chart';
            g.theme_keynote();
            fill(g);
            g.draw();
            const what = `${type} with ${kind} data`;
            assertFinite(env.calls, what);
            assert.ok(env.calls.some((c) => c.name === 'fillRect'), `${what}: background`);
            assert.ok(texts(env.calls).includes('Chart'), `${what}: title`);
        }
    }
});

test('a chart sizes its canvas from the size text and falls back on a bad one', () => {
    const cases = [['300x200', 300, 200], ['640X480', 640, 480], [' 120 x 80 ', 120, 80],
                   ['500', 500, 375], [200, 200, 150], ['', 400, 300], ['axb', 400, 300],
                   [undefined, 400, 300], ['0x0', 400, 300], ['99999x10', 4096, 10]];
    for (const [size, width, height] of cases) {
        const env = load();
        const g = new env.Bluff.Line('chart', size);
        g.data('A', [1, 2]);
        g.draw();
        assert.deepEqual([env.canvas.width, env.canvas.height], [width, height], String(size));
        assert.equal(env.canvas.style.width, width + 'px');
    }
});

test('the canvas may be given as an element; a missing one draws nothing', () => {
    const env = load();
    const g = new env.Bluff.Bar(env.canvas, '200x100');
    g.data('A', [1]);
    g.draw();
    assert.ok(env.calls.length > 0);

    const other = load();
    const missing = new other.Bluff.Bar('no-such-canvas', '200x100');
    missing.data('A', [1]);
    assert.doesNotThrow(() => missing.draw());
    assert.equal(other.calls.length, 0);
    assert.doesNotThrow(() => new other.Bluff.Pie(null, '10x10').draw());
});

test('title, legend, labels and axis numbers are drawn as text', () => {
    const env = load();
    const g = new env.Bluff.Line('chart', '600x400');
    g.title = 'Fruit';
    g.data('Apples', [1, 2, 3]);
    g.data('Pears', [3, 2, 1]);
    g.labels = { 0: 'Jan', 2: 'Mar' };
    g.draw();
    const drawn = texts(env.calls);
    for (const text of ['Fruit', 'Apples', 'Pears', 'Jan', 'Mar', '0', '3']) {
        assert.ok(drawn.includes(text), `${text} in ${drawn.join('|')}`);
    }
    assert.ok(!drawn.includes('No Data'));
    const title = env.calls.find((c) => c.name === 'fillText' && c.args[0] === 'Fruit');
    assert.match(title.font, /^bold /);

    const hidden = load();
    const h = new hidden.Bluff.Bar('chart', '600x400');
    h.title = 'Hidden';
    h.hide_title = true;
    h.hide_legend = true;
    h.data('Apples', [1]);
    h.draw();
    assert.ok(!texts(hidden.calls).includes('Hidden'));
    assert.ok(!texts(hidden.calls).includes('Apples'));
});

test('a chart without drawable data says so', () => {
    for (const type of ['Line', 'Bar', 'Pie', 'Net']) {
        const env = load();
        const g = new env.Bluff[type]('chart', '300x200');
        g.data('Junk', [null, 'x']);
        g.draw();
        assert.ok(texts(env.calls).includes('No Data'), type);
    }
    const env = load();
    const pie = new env.Bluff.Pie('chart', '300x200');
    pie.data('Negative', [-3, -1]);
    pie.draw();
    assert.ok(texts(env.calls).includes('No Data'));
});

test('long texts are shortened to fit the canvas', () => {
    const env = load();
    const g = new env.Bluff.Bar('chart', '300x200');
    g.title = 'T'.repeat(300);
    g.data('L'.repeat(300), [1, 2]);
    g.labels = { 0: 'C'.repeat(300) };
    g.draw();
    for (const call of env.calls.filter((c) => c.name === 'fillText')) {
        const size = parseFloat(/(\d+)px/.exec(call.font)[1]);
        assert.ok(call.args[0].length * size * 0.6 <= 300, `${call.args[0].length} characters`);
    }
    assert.ok(texts(env.calls).some((t) => t.startsWith('TTT') && t.endsWith('\u2026')));
});

test('themes set the series, text and background colours', () => {
    const seen = new Set();
    const themes = ['greyscale', 'keynote', '37signals', 'rails', 'odeo', 'pastel'];
    for (const theme of themes) {
        const env = load();
        const g = new env.Bluff.Bar('chart', '300x200');
        g['theme_' + theme]();
        g.title = 'Title';
        g.data('A', [1, 2]);
        g.data('B', [2, 1], 'rgb(1, 2, 3)');
        g.draw();
        const theme_ = env.Bluff.THEMES[theme];
        const bars = env.calls.filter((c) => c.name === 'fillRect').map((c) => c.fillStyle);
        assert.ok(bars.includes(theme_.colors[0]), `${theme}: first series in the first colour`);
        assert.ok(bars.includes('rgb(1, 2, 3)'), `${theme}: an explicit colour wins`);
        const title = env.calls.find((c) => c.name === 'fillText' && c.args[0] === 'Title');
        assert.equal(title.fillStyle, theme_.font_color, theme);
        const background = env.calls.find((c) => c.name === 'fillRect').fillStyle;
        const backgroundColours = typeof background === 'string' ? [background] : background.stops;
        assert.equal(JSON.stringify(backgroundColours), JSON.stringify(theme_.background_colors), theme);
        seen.add(JSON.stringify([theme_.colors, theme_.background_colors]));
    }
    assert.equal(seen.size, themes.length, 'every theme looks different');

    const env = load();
    const g = new env.Bluff.Line('chart', '300x200');
    g.data('A', [1, 2]);
    g.theme_odeo(); // after the data: colours are taken when drawing
    g.draw();
    assert.ok(env.calls.some((c) => c.name === 'stroke' && c.strokeStyle === env.Bluff.THEMES.odeo.colors[0]));
});

test('set_font names the font family; null restores the default', () => {
    const env = load();
    const g = new env.Bluff.Line('chart', '300x200');
    g.title = 'T';
    g.data('A', [1]);
    g.set_font('Georgia');
    g.draw();
    assert.ok(env.calls.filter((c) => c.name === 'fillText').every((c) => c.font.endsWith('px Georgia')));
    g.set_font(null);
    g.draw();
    const last = env.calls.filter((c) => c.name === 'fillText').pop();
    assert.match(last.font, /px Helvetica, Arial, sans-serif$/);
    assert.doesNotThrow(() => g.set_font());
});

test('bars of negative values hang below the zero line', () => {
    const env = load();
    const g = new env.Bluff.Bar('chart', '400x300');
    g.hide_legend = true;
    g.data('A', [5, -5], '#123456');
    g.draw();
    const bars = env.calls.filter((c) => c.name === 'fillRect' && c.fillStyle === '#123456');
    assert.equal(bars.length, 2);
    const [up, down] = bars.map((c) => c.args);
    assert.ok(up[3] > 0 && down[3] > 0);
    assert.ok(Math.abs(up[1] + up[3] - down[1]) < 1e-6, 'both start at the zero line');
});

test('stacked bars stack each category; the accumulator stands on the running total', () => {
    const env = load();
    const g = new env.Bluff.StackedBar('chart', '400x300');
    g.hide_legend = true;
    g.data('A', [1, 2], '#aa0000');
    g.data('B', [3, 1], '#00aa00');
    g.draw();
    const rect = (colour) => env.calls.filter((c) => c.name === 'fillRect' && c.fillStyle === colour)[0].args;
    const a = rect('#aa0000');
    const b = rect('#00aa00');
    assert.ok(Math.abs(b[1] + b[3] - a[1]) < 1e-6, 'B sits on A');
    assert.ok(Math.abs(b[3] - 3 * a[3]) < 1e-6, 'heights follow the values');

    const acc = load();
    const h = new acc.Bluff.AccumulatorBar('chart', '400x300');
    h.data('Total', [2, 3, 1], '#0000aa');
    h.draw();
    // The first rectangle of the colour is the legend's swatch.
    const bars = acc.calls.filter((c) => c.name === 'fillRect' && c.fillStyle === '#0000aa').slice(1).map((c) => c.args);
    assert.equal(bars.length, 3);
    const unit = bars[0][3] / 2;
    assert.ok(Math.abs(bars[2][1] + bars[2][3] - (bars[0][1] + bars[0][3] - 5 * unit)) < 1e-6,
              'the third bar starts at 2 + 3');
    assert.deepEqual(texts(acc.calls).filter((t) => t === 'Total').length, 1);
});

test('a pie of one series has a slice per value, named by the labels', () => {
    const env = load();
    const g = new env.Bluff.Pie('chart', '400x300');
    g.data('Apples', [1, 3, 0, -2]);
    g.labels = { 0: 'Small', 1: 'Large' };
    g.draw();
    const drawn = texts(env.calls);
    assert.ok(drawn.includes('Small') && drawn.includes('Large') && drawn.includes('3'));
    assert.ok(drawn.includes('25%') && drawn.includes('75%'));
    assert.equal(env.calls.filter((c) => c.name === 'arc').length, 2, 'no slices for zero or negative values');

    const many = load();
    const p = new many.Bluff.Pie('chart', '400x300');
    p.data('A', [1]);
    p.data('B', 2);
    p.data('C', [1, 0]);
    p.draw();
    assert.ok(['25%', '50%', 'A', 'B', 'C'].every((t) => texts(many.calls).includes(t)));
});

test('the design view script runs as the graph control writes it', () => {
    const env = load();
    const ready = [];
    env.window.$ = () => ({ ready: (f) => ready.push(f) });
    const script = "$(document).ready(function() {\n" +
        "var g = new Bluff.Line('chart', '300x200');\n" +
        "g.title = 'Title';\n" +
        "g.theme_greyscale();\n" +
        "g.set_font(null);" +
        "g.data('Apples', [1, 2, 3, 4, 4, 3]);\n" +
        "g.draw();\n" +
        "});\n";
    vm.runInContext(script, env.window);
    assert.equal(ready.length, 1);
    ready[0]();
    assert.deepEqual([env.canvas.width, env.canvas.height], [300, 200]);
    assert.ok(texts(env.calls).includes('Title') && texts(env.calls).includes('Apples'));
    assertFinite(env.calls, 'design script');
});

test('the class helper inherits and reaches the parent', () => {
    const { window } = load();
    const Shape = window.JS.Class({ initialize(name) { this.name = name; }, kind() { return 'shape'; } });
    const Square = window.JS.Class(Shape, {
        initialize(name, side) { Square.superclass.initialize.call(this, name); this.side = side; },
        area() { return this.side * this.side; },
    });
    const s = new Square('sq', 3);
    assert.equal(s.name, 'sq');
    assert.equal(s.area(), 9);
    assert.equal(s.kind(), 'shape');
    assert.ok(s instanceof Shape);
    assert.equal(new Shape('x').area, undefined);
});
