// Draws the caption on the design surface as markup, whatever it holds.
function KRCarelessBox_designMode_draw(element, properties) {
  element.innerHTML = properties.caption || '';
  window.__kr_carelessDrawn = (window.__kr_carelessDrawn || 0) + 1;
}
