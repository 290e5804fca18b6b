// Draws the gauge on the design surface.
function KRSampleGauge_designMode_draw(element, properties) {
  'use strict';
  element.innerHTML = '';
  var label = document.createElement('div');
  label.textContent = (properties.caption || '') + ': ' + (properties.value || '0');
  label.style.color = properties.needleColor || '#000';
  element.appendChild(label);
}
