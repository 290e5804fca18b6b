// The gauge in the built application.
KRPlugin.define('KRSampleGauge', {
  render: function (element, properties) {
    'use strict';
    element.textContent = (properties.caption || '') + ': ' + (properties.value || 0);
  }
});
