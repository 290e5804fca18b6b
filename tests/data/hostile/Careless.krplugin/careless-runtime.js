function KRCarelessBox(properties) {
  this.caption = properties.caption;
}
