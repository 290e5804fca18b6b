$(document).ready(function() {
var g = new Bluff.Bar("_page1_graph1_canvas", "300x200");
g.title = "Tom's \"sales\"\n<\/script>";
g.theme_keynote();
g.set_font(null);g.data('Apples', [1, 2, 3, 4, 4, 3]);
g.draw();
});
