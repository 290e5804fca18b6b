// Charts drawn on a canvas with the 2D API: line, area, bar, dot, pie and radar charts.
// Needs js-class.js first.
//
//   var g = new Bluff.Line('canvas-id', '400x300');   // a canvas id or element, and its size
//   g.title = 'Sales';
//   g.theme_keynote();                                // or any other theme_<name>
//   g.set_font('Georgia');                            // null: the default font
//   g.data('Apples', [1, 2, 3, 4]);                   // optional third argument: a CSS colour
//   g.labels = {0: 'Jan', 3: 'Apr'};
//   g.draw();
//
// Values that are not finite numbers are gaps. A chart without drawable data shows "No Data";
// a missing canvas draws nothing.
var Bluff = (function (JS) {
  'use strict';

  var DEFAULT_FONT = 'Helvetica, Arial, sans-serif';
  var DEFAULT_WIDTH = 400;
  var MAX_SIDE = 4096;
  var ELLIPSIS = '\u2026';

  var THEMES = {
    greyscale: {
      colors: ['#2b2b2b', '#6b6b6b', '#a3a3a3', '#484848', '#888888', '#c2c2c2', '#1a1a1a'],
      marker_color: '#b8b8b8', font_color: '#222222', background_colors: ['#ffffff', '#e6e6e6']
    },
    keynote: {
      colors: ['#6c8fd1', '#7dbf6e', '#e0705f', '#a07fd0', '#f0b24a', '#62c3cf', '#e8e8e8'],
      marker_color: '#5a6478', font_color: '#f4f4f4', background_colors: ['#26303f', '#080a0e']
    },
    '37signals': {
      colors: ['#8e5b2b', '#d9822b', '#5e8c31', '#c23b22', '#3b6e8f', '#b5a642', '#6b4a7a'],
      marker_color: '#d8c9a8', font_color: '#4a3520', background_colors: ['#fffbef', '#f2e8cc']
    },
    rails: {
      colors: ['#a8231f', '#3a3a3a', '#d0743c', '#7a8b99', '#e2b13c', '#4d7a5b', '#8c3f6b'],
      marker_color: '#d6c6c6', font_color: '#3a0f0e', background_colors: ['#ffffff', '#f1e4e4']
    },
    odeo: {
      colors: ['#e5336d', '#1f9ea5', '#f2a93b', '#6a4c93', '#8cc63f', '#3a6ea5', '#9a9a9a'],
      marker_color: '#d4d4d4', font_color: '#333333', background_colors: ['#ffffff', '#f2f2f2']
    },
    pastel: {
      colors: ['#9cc3e6', '#f7b98b', '#a3dba8', '#f4a6a6', '#c9b6e4', '#efe0a0', '#a8dcd9'],
      marker_color: '#dddddd', font_color: '#5b5b5b', background_colors: ['#ffffff']
    }
  };

  // ---------------------------------------------------------------- helpers

  function clamp(value, low, high) {
    return value < low ? low : (value > high ? high : value);
  }

  function toNumber(value) {
    if (typeof value === 'string' && value.replace(/\s/g, '') !== '') { value = Number(value); }
    return typeof value === 'number' && isFinite(value) ? value : null;
  }

  function parseSize(size) {
    var width = NaN;
    var height = NaN;
    if (typeof size === 'number') {
      width = size;
    } else if (typeof size === 'string') {
      var m = /^\s*(\d+(?:\.\d+)?)\s*(?:[x\u00d7]\s*(\d+(?:\.\d+)?))?\s*$/i.exec(size);
      if (m) {
        width = Number(m[1]);
        height = m[2] === undefined ? NaN : Number(m[2]);
      }
    }
    if (!(width >= 1)) { width = DEFAULT_WIDTH; }
    if (!(height >= 1)) { height = width * 0.75; }
    return [Math.round(clamp(width, 1, MAX_SIDE)), Math.round(clamp(height, 1, MAX_SIDE))];
  }

  function niceStep(raw) {
    var magnitude = Math.pow(10, Math.floor(Math.log(raw) / Math.LN10));
    var n = raw / magnitude;
    return (n <= 1 ? 1 : n <= 2 ? 2 : n <= 2.5 ? 2.5 : n <= 5 ? 5 : 10) * magnitude;
  }

  // The value axis: bounds widened to whole steps unless fixed, and the tick values.
  function niceScale(low, high, count, fixedLow, fixedHigh) {
    if (fixedLow !== null) { low = fixedLow; }
    if (fixedHigh !== null) { high = fixedHigh; }
    if (!(high > low)) { high = low + (Math.abs(low) || 1); }
    var step = niceStep((high - low) / count);
    if (!isFinite(low) || !isFinite(high) || !(step > 0) || !isFinite(step)) {
      return { min: 0, max: 1, step: 0.5, ticks: [0, 0.5, 1] };
    }
    if (fixedLow === null) { low = Math.floor(low / step + 1e-9) * step; }
    if (fixedHigh === null) { high = Math.ceil(high / step - 1e-9) * step; }
    var ticks = [];
    var first = Math.ceil(low / step - 1e-9);
    for (var k = 0; k <= 100; k++) {
      var t = (first + k) * step;
      if (t > high + step * 1e-9) { break; }
      ticks.push(t);
    }
    return { min: low, max: high, step: step, ticks: ticks };
  }

  // The smallest and largest of the values and zero.
  function extent(values) {
    var low = 0;
    var high = 0;
    for (var i = 0; i < values.length; i++) {
      low = Math.min(low, values[i]);
      high = Math.max(high, values[i]);
    }
    return { min: low, max: high };
  }

  // Text alignment of a label outside a circle, by the cosine of its angle.
  function sideOf(cos) {
    return cos > 0.2 ? 'left' : (cos < -0.2 ? 'right' : 'center');
  }

  function formatNumber(value, step) {
    var text = String(Number(step.toPrecision(6)));
    var decimals = 0;
    var exp = /e-(\d+)$/.exec(text);
    if (exp) {
      decimals = Number(exp[1]) + 5;
    } else if (text.indexOf('.') >= 0) {
      decimals = text.length - text.indexOf('.') - 1;
    }
    text = value.toFixed(Math.min(decimals, 10));
    return /^-0(\.0*)?$/.test(text) ? text.slice(1) : text;
  }

  // ---------------------------------------------------------------- the base of all charts

  var Base = JS.Class({
    initialize: function (target, size) {
      var dims = parseSize(size);
      this._target = target;
      this.width = dims[0];
      this.height = dims[1];
      this.title = '';
      this.labels = {};
      this.hide_title = false;
      this.hide_legend = false;
      this.hide_line_markers = false;
      this.hide_line_numbers = false;
      this.minimum_value = null;
      this.maximum_value = null;
      this.marker_count = null;
      this._font = DEFAULT_FONT;
      this._series = [];
      this.set_theme(THEMES.greyscale);
    },

    // theme: {colors: [...], marker_color, font_color, background_colors: [top, bottom]}
    set_theme: function (theme) {
      theme = theme || {};
      var background = theme.background_colors;
      if (typeof background === 'string') { background = [background]; }
      this.colors = theme.colors && theme.colors.length ? theme.colors.slice() : ['#888888'];
      this.marker_color = theme.marker_color || '#aaaaaa';
      this.font_color = theme.font_color || '#000000';
      this.background_colors = background && background.length ? background.slice() : ['#ffffff'];
    },

    set_font: function (name) {
      this._font = typeof name === 'string' && name.replace(/\s/g, '') !== '' ? name : DEFAULT_FONT;
    },

    data: function (name, values, color) {
      var points = [];
      if (values !== null && values !== undefined) {
        if (typeof values === 'object' && typeof values.length === 'number') {
          for (var i = 0; i < values.length; i++) { points.push(toNumber(values[i])); }
        } else {
          points.push(toNumber(values));
        }
      }
      this._series.push({
        name: name === null || name === undefined ? '' : String(name),
        points: points,
        color: typeof color === 'string' && color !== '' ? color : null
      });
    },

    draw: function () {
      var canvas = this._canvas();
      var ctx = canvas && typeof canvas.getContext === 'function' ? canvas.getContext('2d') : null;
      if (!ctx) { return; }
      canvas.width = this.width;
      canvas.height = this.height;
      if (canvas.style) {
        canvas.style.width = this.width + 'px';
        canvas.style.height = this.height + 'px';
      }
      var base = Math.min(this.width, this.height * 4 / 3);
      this._ctx = ctx;
      this._titleSize = Math.round(clamp(base * 0.045, 11, 36));
      this._legendSize = Math.round(clamp(base * 0.032, 9, 24));
      this._markerSize = Math.round(clamp(base * 0.028, 8, 20));
      this._pad = Math.round(clamp(base * 0.03, 4, 20));

      this._drawBackground();
      var area = { left: this._pad, top: this._pad, right: this.width - this._pad, bottom: this.height - this._pad };
      this._drawTitle(area);
      this._drawLegend(area);
      if (!this._hasData()) {
        this._drawNoData(area);
      } else if (area.right - area.left > 4 && area.bottom - area.top > 4) {
        this._drawGraph(area);
      }
      this._ctx = null;
    },

    // ---- for the chart types

    _canvas: function () {
      var target = this._target;
      if (typeof target === 'string') {
        return typeof document !== 'undefined' ? document.getElementById(target) : null;
      }
      return target || null;
    },

    _colorOf: function (index) {
      var series = this._series[index];
      return (series && series.color) || this.colors[index % this.colors.length];
    },

    _label: function (index) {
      var label = this.labels ? this.labels[index] : null;
      return label === null || label === undefined ? '' : String(label);
    },

    _columnCount: function () {
      var count = 0;
      for (var i = 0; i < this._series.length; i++) {
        count = Math.max(count, this._series[i].points.length);
      }
      return count;
    },

    // Every value of every series, gaps left out.
    _values: function () {
      var values = [];
      for (var i = 0; i < this._series.length; i++) {
        var points = this._series[i].points;
        for (var j = 0; j < points.length; j++) {
          if (points[j] !== null) { values.push(points[j]); }
        }
      }
      return values;
    },

    _hasData: function () {
      return this._values().length > 0;
    },

    _legendItems: function () {
      var items = [];
      for (var i = 0; i < this._series.length; i++) {
        items.push({ name: this._series[i].name, color: this._colorOf(i) });
      }
      return items;
    },

    _setFont: function (size, bold) {
      this._ctx.font = (bold ? 'bold ' : '') + size + 'px ' + this._font;
    },

    _measure: function (text) {
      return this._ctx.measureText(text).width;
    },

    // The text shortened with an ellipsis to fit maxWidth in the current font.
    _fit: function (text, maxWidth) {
      if (this._measure(text) <= maxWidth) { return text; }
      var low = 0;
      var high = text.length;
      while (low < high) {
        var mid = Math.ceil((low + high) / 2);
        if (this._measure(text.slice(0, mid) + ELLIPSIS) <= maxWidth) {
          low = mid;
        } else {
          high = mid - 1;
        }
      }
      return low > 0 ? text.slice(0, low) + ELLIPSIS : '';
    },

    // Text in the theme's colour, vertically centred on y.
    _text: function (text, x, y, align) {
      var ctx = this._ctx;
      ctx.fillStyle = this.font_color;
      ctx.textAlign = align;
      ctx.textBaseline = 'middle';
      ctx.fillText(text, x, y);
    },

    // A path through points {x, y}; the caller fills or strokes it.
    _path: function (points, close) {
      var ctx = this._ctx;
      ctx.beginPath();
      for (var k = 0; k < points.length; k++) {
        if (k === 0) {
          ctx.moveTo(points[k].x, points[k].y);
        } else {
          ctx.lineTo(points[k].x, points[k].y);
        }
      }
      if (close) { ctx.closePath(); }
    },

    _dot: function (x, y, radius) {
      var ctx = this._ctx;
      ctx.beginPath();
      ctx.arc(x, y, radius, 0, Math.PI * 2, false);
      ctx.fill();
    },

    _lineWidth: function () {
      return clamp(Math.min(this.width, this.height * 4 / 3) / 200, 1.5, 4);
    },

    _drawBackground: function () {
      var ctx = this._ctx;
      var colors = this.background_colors;
      if (colors.length > 1 && typeof ctx.createLinearGradient === 'function') {
        var gradient = ctx.createLinearGradient(0, 0, 0, this.height);
        gradient.addColorStop(0, colors[0]);
        gradient.addColorStop(1, colors[1]);
        ctx.fillStyle = gradient;
      } else {
        ctx.fillStyle = colors[0];
      }
      ctx.fillRect(0, 0, this.width, this.height);
    },

    _drawTitle: function (area) {
      var title = this.title === null || this.title === undefined ? '' : String(this.title);
      if (this.hide_title || title === '') { return; }
      this._setFont(this._titleSize, true);
      title = this._fit(title, area.right - area.left);
      this._text(title, this.width / 2, area.top + this._titleSize / 2, 'center');
      area.top += Math.round(this._titleSize * 1.5);
    },

    // Swatches and names in centred rows, wrapped to the width; at most a third of the height.
    _drawLegend: function (area) {
      var items = this._legendItems();
      if (this.hide_legend || items.length === 0) { return; }
      var size = this._legendSize;
      var lineHeight = Math.round(size * 1.5);
      var spacing = size * 1.5;
      var available = area.right - area.left;
      var maxRows = Math.max(1, Math.floor((area.bottom - area.top) / 3 / lineHeight));
      var rows = [{ items: [], width: 0 }];
      this._setFont(size, false);
      for (var i = 0; i < items.length; i++) {
        var text = this._fit(items[i].name, Math.max(available - size * 1.5, 0));
        var itemWidth = size * 1.5 + this._measure(text);
        var row = rows[rows.length - 1];
        if (row.items.length > 0 && row.width + spacing + itemWidth > available) {
          if (rows.length === maxRows) { break; }
          row = { items: [], width: 0 };
          rows.push(row);
        }
        row.width += (row.items.length > 0 ? spacing : 0) + itemWidth;
        row.items.push({ text: text, color: items[i].color, width: itemWidth });
      }
      var ctx = this._ctx;
      for (var r = 0; r < rows.length; r++) {
        var x = area.left + (available - rows[r].width) / 2;
        var y = area.top + r * lineHeight + size / 2;
        for (var k = 0; k < rows[r].items.length; k++) {
          var item = rows[r].items[k];
          ctx.fillStyle = item.color;
          ctx.fillRect(x, y - size / 2, size, size);
          this._text(item.text, x + size * 1.5, y, 'left');
          x += item.width + spacing;
        }
      }
      area.top += rows.length * lineHeight + Math.round(this._pad / 2);
    },

    _drawNoData: function (area) {
      this._setFont(this._titleSize, false);
      this._text('No Data', (area.left + area.right) / 2, (area.top + area.bottom) / 2, 'center');
    },

    _drawGraph: function () {}
  });

  for (var themeName in THEMES) {
    if (Object.prototype.hasOwnProperty.call(THEMES, themeName)) {
      Base.prototype['theme_' + themeName] = (function (theme) {
        return function () { this.set_theme(theme); };
      })(THEMES[themeName]);
    }
  }

  // ---------------------------------------------------------------- charts with a value axis

  // Subclasses set `_horizontal` (value axis along x), `_slots` (categories are bands, as
  // for bars, rather than points, as for lines) and implement _plot(g).
  var XY = JS.Class(Base, {
    _horizontal: false,
    _slots: false,

    // The raw value range; zero is always inside it.
    _range: function () {
      return extent(this._values());
    },

    _drawGraph: function (area) {
      var range = this._range();
      var count = this._columnCount();
      var markerCount = this.marker_count > 0 ? Math.min(Math.floor(this.marker_count), 50) :
        clamp(Math.floor((this._horizontal ? this.width : this.height) / 70), 2, 6);
      var scale = niceScale(range.min, range.max, markerCount,
                 toNumber(this.minimum_value), toNumber(this.maximum_value));
      var size = this._markerSize;
      var i;
      this._setFont(size, false);

      var tickTexts = [];
      var tickWidth = 0;
      for (i = 0; i < scale.ticks.length; i++) {
        tickTexts.push(formatNumber(scale.ticks[i], scale.step));
        tickWidth = Math.max(tickWidth, this._measure(tickTexts[i]));
      }
      var hasLabels = false;
      var labelWidth = 0;
      for (i = 0; i < count; i++) {
        var label = this._label(i);
        if (label !== '') {
          hasLabels = true;
          labelWidth = Math.max(labelWidth, this._measure(label));
        }
      }
      var numbers = !this.hide_line_numbers;
      var g = { scale: scale, count: count, horizontal: this._horizontal };
      if (!this._horizontal) {
        g.left = area.left + (numbers ? tickWidth + this._pad / 2 : 0);
        g.right = area.right - (hasLabels ? size : 0);
        g.top = area.top + (numbers ? size / 2 : 0);
        g.bottom = area.bottom - (hasLabels ? Math.round(size * 1.5) : 0);
      } else {
        g.labelWidth = hasLabels ? Math.min(labelWidth, (area.right - area.left) * 0.3) : 0;
        g.left = area.left + (hasLabels ? g.labelWidth + this._pad / 2 : 0);
        g.right = area.right - (numbers ? tickWidth / 2 : 0);
        g.top = area.top;
        g.bottom = area.bottom - (numbers ? Math.round(size * 1.5) : 0);
      }
      g.width = g.right - g.left;
      g.height = g.bottom - g.top;
      if (g.width < 4 || g.height < 4) { return; }
      g.value = function (v) {
        var f = (clamp(v, scale.min, scale.max) - scale.min) / (scale.max - scale.min);
        return g.horizontal ? g.left + f * g.width : g.bottom - f * g.height;
      };
      g.zero = g.value(0);
      g.length = g.horizontal ? g.height : g.width;
      g.slot = g.length / Math.max(count, 1);
      var slots = this._slots;
      // Start of category i along the category axis (bands), or its position (points).
      g.slotStart = function (index) {
        return (g.horizontal ? g.top : g.left) + index * g.slot;
      };
      g.center = function (index) {
        if (slots) { return g.slotStart(index) + g.slot / 2; }
        var start = g.horizontal ? g.top : g.left;
        return count > 1 ? start + index * g.length / (count - 1) : start + g.length / 2;
      };

      this._drawAxes(g, tickTexts);
      this._plot(g);
      if (hasLabels) { this._drawCategoryLabels(g); }
    },

    _drawAxes: function (g, tickTexts) {
      var ctx = this._ctx;
      var ticks = g.scale.ticks;
      ctx.lineWidth = 1;
      ctx.strokeStyle = this.marker_color;
      for (var i = 0; i < ticks.length; i++) {
        var p = Math.round(g.value(ticks[i])) + 0.5;
        if (!this.hide_line_markers) {
          ctx.beginPath();
          if (g.horizontal) {
            ctx.moveTo(p, g.top);
            ctx.lineTo(p, g.bottom);
          } else {
            ctx.moveTo(g.left, p);
            ctx.lineTo(g.right, p);
          }
          ctx.stroke();
        }
        if (!this.hide_line_numbers) {
          if (g.horizontal) {
            this._text(tickTexts[i], p, g.bottom + this._markerSize * 0.9, 'center');
          } else {
            this._text(tickTexts[i], g.left - this._pad / 2, p, 'right');
          }
        }
      }
    },

    // Labels that would overlap the previous one are left out.
    _drawCategoryLabels: function (g) {
      var size = this._markerSize;
      var last = -Infinity;
      this._setFont(size, false);
      for (var i = 0; i < g.count; i++) {
        var label = this._label(i);
        if (label === '') { continue; }
        var c = g.center(i);
        if (g.horizontal) {
          if (c - size / 2 < last + 2) { continue; }
          this._text(this._fit(label, g.labelWidth), g.left - this._pad / 2, c, 'right');
          last = c + size / 2;
        } else {
          var text = this._fit(label, Math.max(g.length / Math.max(g.count, 1) * 1.8, size * 4));
          var half = this._measure(text) / 2;
          var x = clamp(c, half, this.width - half);
          if (x - half < last + size / 2) { continue; }
          this._text(text, x, g.bottom + size * 0.9, 'center');
          last = x + half;
        }
      }
    },

    // A bar between two values across the band [start, start + thickness).
    _bar: function (g, start, thickness, from, to) {
      var p0 = g.value(from);
      var p1 = g.value(to);
      if (g.horizontal) {
        this._ctx.fillRect(Math.min(p0, p1), start, Math.abs(p1 - p0), thickness);
      } else {
        this._ctx.fillRect(start, Math.min(p0, p1), thickness, Math.abs(p1 - p0));
      }
    },

    _point: function (g, index, value) {
      var a = g.center(index);
      var b = g.value(value);
      return g.horizontal ? { x: b, y: a } : { x: a, y: b };
    },

    // Runs of consecutive values (gaps split them) as lists of {index, value}.
    _runs: function (points) {
      var runs = [];
      var run = [];
      for (var i = 0; i < points.length; i++) {
        if (points[i] === null) {
          if (run.length) { runs.push(run); }
          run = [];
        } else {
          run.push({ index: i, value: points[i] });
        }
      }
      if (run.length) { runs.push(run); }
      return runs;
    },

    _plot: function () {}
  });

  // Stacked charts: positive values stack upwards from zero, negative ones downwards.
  var stacking = {
    _stacks: function () {
      var count = this._columnCount();
      var stacks = [];
      for (var i = 0; i < count; i++) {
        var up = 0;
        var down = 0;
        var parts = [];
        for (var s = 0; s < this._series.length; s++) {
          var v = this._series[s].points[i];
          if (v === null || v === undefined) {
            parts.push(null);
          } else if (v >= 0) {
            parts.push({ from: up, to: up + v });
            up += v;
          } else {
            parts.push({ from: down, to: down + v });
            down += v;
          }
        }
        stacks.push({ up: up, down: down, parts: parts });
      }
      return stacks;
    },

    _range: function () {
      var stacks = this._stacks();
      var low = 0;
      var high = 0;
      for (var i = 0; i < stacks.length; i++) {
        low = Math.min(low, stacks[i].down);
        high = Math.max(high, stacks[i].up);
      }
      return { min: low, max: high };
    }
  };

  var Line = JS.Class(XY, {
    _plot: function (g) {
      var ctx = this._ctx;
      var width = this._lineWidth();
      ctx.lineWidth = width;
      ctx.lineJoin = 'round';
      for (var s = 0; s < this._series.length; s++) {
        var runs = this._runs(this._series[s].points);
        ctx.strokeStyle = ctx.fillStyle = this._colorOf(s);
        for (var r = 0; r < runs.length; r++) {
          var points = [];
          for (var k = 0; k < runs[r].length; k++) {
            points.push(this._point(g, runs[r][k].index, runs[r][k].value));
          }
          this._path(points, false);
          ctx.stroke();
          for (k = 0; k < points.length; k++) { this._dot(points[k].x, points[k].y, width * 1.5); }
        }
      }
    }
  });

  // A filled band between the values upper[k] and lower[k] at the categories indexes[k].
  function fillBand(chart, g, indexes, upper, lower) {
    var ctx = chart._ctx;
    var points = [];
    for (var k = 0; k < indexes.length; k++) { points.push(chart._point(g, indexes[k], upper[k])); }
    for (k = indexes.length - 1; k >= 0; k--) { points.push(chart._point(g, indexes[k], lower[k])); }
    chart._path(points, true);
    ctx.globalAlpha = 0.7;
    ctx.fill();
    ctx.globalAlpha = 1;
    ctx.stroke();
  }

  var Area = JS.Class(XY, {
    _plot: function (g) {
      var ctx = this._ctx;
      ctx.lineWidth = 1;
      for (var s = 0; s < this._series.length; s++) {
        var runs = this._runs(this._series[s].points);
        ctx.strokeStyle = ctx.fillStyle = this._colorOf(s);
        for (var r = 0; r < runs.length; r++) {
          var indexes = [];
          var upper = [];
          var lower = [];
          for (var k = 0; k < runs[r].length; k++) {
            indexes.push(runs[r][k].index);
            upper.push(runs[r][k].value);
            lower.push(0);
          }
          if (indexes.length === 1) {
            var p = this._point(g, indexes[0], upper[0]);
            this._dot(p.x, p.y, this._lineWidth() * 1.5);
          } else {
            fillBand(this, g, indexes, upper, lower);
          }
        }
      }
    }
  });

  var StackedArea = JS.Class(XY, JS.extend({
    _plot: function (g) {
      var stacks = this._stacks();
      var ctx = this._ctx;
      ctx.lineWidth = 1;
      for (var s = 0; s < this._series.length; s++) {
        var indexes = [];
        var upper = [];
        var lower = [];
        for (var i = 0; i < stacks.length; i++) {
          var part = stacks[i].parts[s];
          indexes.push(i);
          upper.push(part ? part.to : 0);
          lower.push(part ? part.from : 0);
        }
        ctx.strokeStyle = ctx.fillStyle = this._colorOf(s);
        if (indexes.length === 1) {
          this._bar(g, g.center(0) - g.length / 4, g.length / 2, lower[0], upper[0]);
        } else {
          fillBand(this, g, indexes, upper, lower);
        }
      }
    }
  }, stacking));

  // Bars of each category side by side in a band, 80 % of the category's width.
  var Bar = JS.Class(XY, {
    _slots: true,

    _plot: function (g) {
      var n = Math.max(this._series.length, 1);
      var barWidth = g.slot * 0.8 / n;
      for (var s = 0; s < this._series.length; s++) {
        var points = this._series[s].points;
        this._ctx.fillStyle = this._colorOf(s);
        for (var i = 0; i < points.length; i++) {
          if (points[i] !== null) {
            this._bar(g, g.slotStart(i) + g.slot * 0.1 + s * barWidth, barWidth * 0.9, 0, points[i]);
          }
        }
      }
    }
  });

  var StackedBar = JS.Class(XY, JS.extend({
    _slots: true,

    _plot: function (g) {
      var stacks = this._stacks();
      for (var i = 0; i < stacks.length; i++) {
        for (var s = 0; s < stacks[i].parts.length; s++) {
          var part = stacks[i].parts[s];
          if (part) {
            this._ctx.fillStyle = this._colorOf(s);
            this._bar(g, g.slotStart(i) + g.slot * 0.15, g.slot * 0.7, part.from, part.to);
          }
        }
      }
    }
  }, stacking));

  // One series shown as running totals: each bar stands on the sum of the values before it.
  var AccumulatorBar = JS.Class(StackedBar, {
    _stacks: function () {
      var first = this._series[0];
      var points = first ? first.points : [];
      var saved = this._series;
      var base = [];
      var total = 0;
      for (var i = 0; i < points.length; i++) {
        base.push(i === 0 ? null : total);
        total += points[i] === null ? 0 : points[i];
      }
      this._series = first ? [{ name: '', points: base, color: null }, first] : [];
      var stacks = StackedBar.prototype._stacks.call(this);
      this._series = saved;
      return stacks;
    },

    _colorOf: function (index) {
      return index === 0 ? this.marker_color : Base.prototype._colorOf.call(this, 0);
    },

    _legendItems: function () {
      return this._series.length ? [{ name: this._series[0].name, color: this._colorOf(1) }] : [];
    }
  });

  var SideBar = JS.Class(Bar, { _horizontal: true });
  var SideStackedBar = JS.Class(StackedBar, { _horizontal: true });

  // Each category is a line across the chart with a dot per series.
  var Dot = JS.Class(XY, {
    _slots: true,
    _horizontal: true,

    _plot: function (g) {
      var ctx = this._ctx;
      var radius = clamp(g.slot / 4, 2, this._lineWidth() * 2);
      ctx.strokeStyle = this.marker_color;
      ctx.lineWidth = 1;
      for (var i = 0; i < g.count; i++) {
        var y = Math.round(g.center(i)) + 0.5;
        ctx.beginPath();
        ctx.moveTo(g.left, y);
        ctx.lineTo(g.right, y);
        ctx.stroke();
      }
      for (var s = 0; s < this._series.length; s++) {
        var points = this._series[s].points;
        ctx.fillStyle = this._colorOf(s);
        for (i = 0; i < points.length; i++) {
          if (points[i] !== null) {
            var p = this._point(g, i, points[i]);
            this._dot(p.x, p.y, radius);
          }
        }
      }
    }
  });

  // ---------------------------------------------------------------- round charts

  // One slice per series (the sum of its positive values); a single series with several
  // values gives one slice per value, named by the labels.
  var Pie = JS.Class(Base, {
    _slices: function () {
      var slices = [];
      var i;
      var series = this._series;
      if (series.length === 1 && series[0].points.length > 1) {
        for (i = 0; i < series[0].points.length; i++) {
          slices.push({
            name: this._label(i) || String(i + 1),
            value: Math.max(series[0].points[i] || 0, 0),
            color: this.colors[i % this.colors.length]
          });
        }
        return slices;
      }
      for (i = 0; i < series.length; i++) {
        var sum = 0;
        for (var j = 0; j < series[i].points.length; j++) {
          sum += Math.max(series[i].points[j] || 0, 0);
        }
        slices.push({ name: series[i].name, value: sum, color: this._colorOf(i) });
      }
      return slices;
    },

    _total: function (slices) {
      var total = 0;
      for (var i = 0; i < slices.length; i++) { total += slices[i].value; }
      return total;
    },

    _hasData: function () {
      var total = this._total(this._slices());
      return total > 0 && isFinite(total);
    },

    _legendItems: function () {
      return this._slices();
    },

    _drawGraph: function (area) {
      var ctx = this._ctx;
      var slices = this._slices();
      var total = this._total(slices);
      var size = this._markerSize;
      var cx = (area.left + area.right) / 2;
      var cy = (area.top + area.bottom) / 2;
      var radius = Math.min(area.right - area.left - size * 6, area.bottom - area.top - size * 3) / 2;
      if (radius < 2) { return; }
      var angle = -Math.PI / 2;
      ctx.lineWidth = 1;
      ctx.strokeStyle = this.background_colors[0];
      this._setFont(size, false);
      for (var i = 0; i < slices.length; i++) {
        if (!(slices[i].value > 0)) { continue; }
        var sweep = slices[i].value / total * Math.PI * 2;
        ctx.fillStyle = slices[i].color;
        ctx.beginPath();
        ctx.moveTo(cx, cy);
        ctx.arc(cx, cy, radius, angle, angle + sweep, false);
        ctx.closePath();
        ctx.fill();
        if (slices.length > 1) { ctx.stroke(); }
        var percent = Math.round(slices[i].value / total * 100);
        if (percent > 0) {
          var middle = angle + sweep / 2;
          var cos = Math.cos(middle);
          var x = cx + cos * (radius + size * 0.5);
          var y = cy + Math.sin(middle) * (radius + size * 0.9);
          this._text(percent + '%', x, y, sideOf(cos));
        }
        angle += sweep;
      }
    }
  });

  // Radar charts: one axis per category around a centre; values below zero sit at the centre.
  var Net = JS.Class(Base, {
    _filled: false,

    _drawGraph: function (area) {
      var ctx = this._ctx;
      var count = this._columnCount();
      var size = this._markerSize;
      var cx = (area.left + area.right) / 2;
      var cy = (area.top + area.bottom) / 2;
      var radius = Math.min(area.right - area.left - size * 8, area.bottom - area.top - size * 3) / 2;
      if (radius < 2 || count === 0) { return; }
      var high = extent(this._values()).max;
      var fixedHigh = toNumber(this.maximum_value);
      var scale = niceScale(0, high, 4, 0, fixedHigh !== null && fixedHigh > 0 ? fixedHigh : null);
      // The point of a value on axis `index`, `beyond` pixels past it.
      var at = function (index, value, beyond) {
        var a = -Math.PI / 2 + index * Math.PI * 2 / count;
        var r = radius * clamp(value, 0, scale.max) / scale.max + (beyond || 0);
        return { x: cx + Math.cos(a) * r, y: cy + Math.sin(a) * r, cos: Math.cos(a) };
      };
      // The polygon through the values on every axis.
      var polygon = function (values) {
        var points = [];
        for (var k = 0; k < count; k++) { points.push(at(k, values(k) || 0)); }
        return points;
      };
      var i;
      var p;
      var s;
      ctx.lineWidth = 1;
      ctx.strokeStyle = this.marker_color;
      for (var t = 1; t < scale.ticks.length && !this.hide_line_markers; t++) {
        if (count < 3) {
          ctx.beginPath();
          ctx.arc(cx, cy, radius * scale.ticks[t] / scale.max, 0, Math.PI * 2, false);
        } else {
          this._path(polygon(function () { return scale.ticks[t]; }), true);
        }
        ctx.stroke();
      }
      this._setFont(size, false);
      for (i = 0; i < count; i++) {
        p = at(i, scale.max);
        ctx.beginPath();
        ctx.moveTo(cx, cy);
        ctx.lineTo(p.x, p.y);
        ctx.stroke();
        var label = this._label(i);
        if (label !== '') {
          var q = at(i, scale.max, size * 0.8);
          this._text(this._fit(label, size * 6), q.x, q.y, sideOf(q.cos));
        }
      }
      var width = this._lineWidth();
      ctx.lineWidth = width;
      for (s = 0; s < this._series.length; s++) {
        var points = this._series[s].points;
        ctx.strokeStyle = ctx.fillStyle = this._colorOf(s);
        this._path(polygon(function (k) { return points[k]; }), true);
        if (this._filled) {
          ctx.globalAlpha = 0.35;
          ctx.fill();
          ctx.globalAlpha = 1;
        }
        ctx.stroke();
        for (i = 0; i < count; i++) {
          if (points[i] !== null && points[i] !== undefined) {
            p = at(i, points[i]);
            this._dot(p.x, p.y, width * 1.5);
          }
        }
      }
    }
  });

  var Spider = JS.Class(Net, { _filled: true });

  // Small versions: no grid and no axis numbers.
  function mini(Parent) {
    return JS.Class(Parent, {
      initialize: function (target, size) {
        Parent.prototype.initialize.call(this, target, size);
        this.hide_line_markers = true;
        this.hide_line_numbers = true;
      }
    });
  }

  return {
    Base: Base,
    THEMES: THEMES,
    Line: Line,
    Area: Area,
    StackedArea: StackedArea,
    Bar: Bar,
    StackedBar: StackedBar,
    AccumulatorBar: AccumulatorBar,
    SideBar: SideBar,
    SideStackedBar: SideStackedBar,
    Dot: Dot,
    Pie: Pie,
    Net: Net,
    Spider: Spider,
    Mini: { Bar: mini(Bar), Pie: mini(Pie), SideBar: mini(SideBar) }
  };
})(JS);
