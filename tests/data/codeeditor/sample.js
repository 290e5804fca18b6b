/* Page start-up:
   runs once the page is shown. */
function showGreeting(name, count) {
    var message = "Hello, \"" + name + "\"\n";
    var single = 'it\'s ' + count * 2.5e3; // a number and a comment
    if (count === 0 && name !== null) {
        return undefined;
    }
    var url = "http://example.com/page"; var path = 'a//b';
    window.alert(message + single); // "not a string"
    let $element = $('#list'), returned = 0x1F;
    /* one */ const typeofValue = typeof url; /* two */
}
