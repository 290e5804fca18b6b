// Script for the application's pages.
// Add this file to the project's javascriptIncludes to load it on every page.

