(function(window) {
$(document).on('pagechange pagebeforeshow', function() {
application._pageChange();
});
window.application = new KRApplication({
_deviceMap: {"iPhone":{"width":320,"height":480,"screenWidth":320,"screenHeight":480},"iPad":{"width":768,"height":1024,"screenWidth":768,"screenHeight":1024}}, _jqm: true, _jqmAJAX: false});
var application = window.application;

application._pages.home = new KRPage("home");
(function(p) {
p._pageURL = "home.html";
application._pages.home._events.helloButton_onClick = function(event) {
application._pages.home.greeting.setValue('Hello, world!');
};
application._pages.home._events.timer1_onTimeout = function(event) {
var p = application._pages.home;
p.tickCount = (p.tickCount || 0) + 1;
p.ticks.setValue('Ticks: ' + p.tickCount);
};
$(document).off('_kr_pagechange', '#home').on('_kr_pagechange', '#home', function() {
p._load(function(o) {
o.header1 = new JQMHeaderToolbar("home_header1");
o.header1.navbarItems = {_krinit:true, items:[{"label":"Home","icon":"home","active":true},{"label":"Forms","icon":"edit","gotoPage":"forms"}]};
o.header1.navbarIconpos = "top";
o.greeting = new KRLabel("home_greeting");
o.helloButton = new JQMButton("home_helloButton");
o.helloButton.onClick = application._pages.home._events.helloButton_onClick;
o.menu = new JQMListView("home_menu");
o.menu.icon = "carat-r";
o.menu.items = {_krinit:true, items:[{"label":"Details","gotoPage":"details"}, {"label":"Forms","gotoPage":"forms"}]};
o.nextButton = new JQMButton("home_nextButton");
o.nextButton.gotoPage = "details";
o.nextButton.gotoPageTransition = "slide";
o.ticks = new KRLabel("home_ticks");
o.timer1 = new KRTimer("home_timer1");
o.timer1.interval = 200;
o.timer1.onTimeout = application._pages.home._events.timer1_onTimeout;
o.timer1.enabled = true;
});
});
})(application._pages.home);

application._pages.details = new KRPage("details");
(function(p) {
p._pageURL = "details.html";
application._pages.details._events.details_onLoad = function(event) {
var g = this.visits;
g.addData('Visitors', [12, 17, 9, 22, 15]);
g.setLabels({0: 'Mon', 1: 'Tue', 2: 'Wed', 3: 'Thu', 4: 'Fri'});
g.draw();
};
$(document).off('_kr_pagechange', '#details').on('_kr_pagechange', '#details', function() {
p._load(function(o) {
p.onLoad = application._pages.details._events.details_onLoad;
o.gallery = new KRPhotoSwipe("details_gallery");
o.gallery.images = [{"url":"images/beach.png","caption":"Beach"},{"url":"images/sky.png","caption":"Sky"}];
o.gallery.loop = true;
o.header2 = new JQMHeaderToolbar("details_header2");
o.header2.leftButtonGotoPage = "(back)";
o.info = new KRLabel("details_info");
o.visits = new KRBluffGraph("details_visits");
o.visits.title = "Visits";
o.visits.theme = "keynote";
o.visits.type = "Bar";
});
});
})(application._pages.details);

application._pages.forms = new KRPage("forms");
(function(p) {
p._pageURL = "forms.html";
application._pages.forms._events.sendButton_onClick = function(event) {
$('#_form_forms').submit();
};
$(document).off('_kr_pagechange', '#forms').on('_kr_pagechange', '#forms', function() {
p._load(function(o) {
p.formAction = "result.krml";
o.header3 = new JQMHeaderToolbar("forms_header3");
o.header3.leftButtonGotoPage = "(back)";
o.nameBox = new JQMTextbox("forms_nameBox");
o.sendButton = new JQMButton("forms_sendButton");
o.sendButton.onClick = application._pages.forms._events.sendButton_onClick;
});
});
})(application._pages.forms);

application._pages.result = new KRPage("result");
(function(p) {
p._pageURL = "result.krml";
$(document).off('_kr_pagechange', '#result').on('_kr_pagechange', '#result', function() {
p._load(function(o) {
o.header4 = new JQMHeaderToolbar("result_header4");
o.header4.leftButtonGotoPage = "(back)";
o.sentName = new JQMTextbox("result_sentName");
});
});
})(application._pages.result);
})(window);
