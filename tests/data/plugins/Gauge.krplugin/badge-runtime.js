KRPlugin.define('KRSampleBadge', {
  render: function (element, properties) {
    'use strict';
    element.textContent = properties.label || '';
  }
});
