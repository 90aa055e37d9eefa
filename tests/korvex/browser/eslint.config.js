// The HTML reports' scripts (tools/korvex/report/assets) run in the browser
// as one classic script: report.js, then the page's own. scripts/test runs
// eslint with this file from the repository's root, where the paths start.
import js from '@eslint/js';
import {defineConfig} from 'eslint/config';
import globals from 'globals';

export default defineConfig([
    {
        files: ['tools/korvex/report/assets/*.js'],
        extends: [js.configs.recommended],
        languageOptions: {sourceType: 'script', globals: globals.browser},
    },
]);
