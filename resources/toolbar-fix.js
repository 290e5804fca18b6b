// Runs in every design view once jQuery Mobile has enhanced the page. The design view is a
// fixed-size frame in which page objects sit at absolute positions, so the header and footer
// bars must stay where they are drawn: no hiding on tap, focus or scroll, no animation, and no
// page padding that would shift the objects away from the positions the built page uses.
(function ($) {
    if (!$ || !$.mobile) {
        return;
    }
    var widget = $.mobile.toolbar ? 'toolbar' : 'fixedtoolbar';
    var bars = $('[data-role="header"], [data-role="footer"]');

    bars.each(function () {
        var bar = $(this);
        try {
            bar[widget]('option', {
                tapToggle: false,
                hideDuringFocus: '',
                updatePagePadding: false,
                transition: 'none'
            });
        } catch (e) {
            // A bar that was not enhanced as a toolbar has no options to change.
        }
        bar.removeClass('ui-fixed-hidden').addClass('ui-fixed-visible');
    });

    $('.ui-page').removeClass('ui-page-header-fixed ui-page-footer-fixed')
        .css({ 'padding-top': '', 'padding-bottom': '' });
})(window.jQuery);
