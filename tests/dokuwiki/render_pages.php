<?php
// SPDX-License-Identifier: GPL-2.0-or-later
// Renders many DokuWiki pages in one PHP process: a JSON object of
// name => wiki text on stdin, the same names => XHTML on stdout.
// Starting DokuWiki once per page would cost a quarter second each.
//
// Argument: a scratch directory. DokuWiki gets a configuration there that is
// the install's own (fidelity.py fills SCRATCH/conf before, installs.py) with
// a data directory of its own, so that rendering needs no access to the
// system wiki's data (root only) and leaves its caches alone. TAMSEL_DOKU_INC
// names the install (DOKU_INC; Debian's package when unset).
//
// With --nowiki-spans each page maps to {"xhtml": ..., "nowiki": [...]}
// instead, the list holding every unformatted stretch (%%...%% or
// <nowiki>...</nowiki>) that DokuWiki's parser let run over a line end:
// [lines it swallowed, its first characters]. The parser matches such an
// opener with a closer anywhere further down the page, so one stray %% can
// hide hundreds of lines of markup; only DokuWiki's own parse tells for sure.

$spans = $argc == 3 && $argv[2] === '--nowiki-spans';
if ($argc != 2 && !$spans) {
    fwrite(STDERR, "usage: php render_pages.php SCRATCH_DIR [--nowiki-spans] < pages.json\n");
    exit(2);
}
$scratch = rtrim($argv[1], '/');
$confDir = "$scratch/conf";
$dataDir = "$scratch/data";
$subdirs = ['pages', 'attic', 'media', 'media_attic', 'meta', 'media_meta', 'cache', 'index',
            'locks', 'tmp', 'log'];
foreach ($subdirs as $sub) {
    if (!is_dir("$dataDir/$sub")) mkdir("$dataDir/$sub", 0777, true);
}
if (!is_dir($confDir)) mkdir($confDir, 0777, true);
file_put_contents("$confDir/local.php",
    "<?php\n\$conf['savedir'] = " . var_export($dataDir, true) . ";\n\$conf['useacl'] = 0;\n");

$_SERVER['HTTP_HOST'] = 'localhost';
$_SERVER['SCRIPT_NAME'] = '/doku.php';
define('DOKU_INC', getenv('TAMSEL_DOKU_INC') ?: '/usr/share/dokuwiki/');
define('DOKU_CONF', "$confDir/");
define('NOSESSION', 1);
require_once(DOKU_INC . 'inc/init.php');

$pages = json_decode(stream_get_contents(STDIN), true);
if (!is_array($pages)) {
    fwrite(STDERR, "render_pages: expected a JSON object on stdin\n");
    exit(2);
}
$out = [];
foreach ($pages as $name => $text) {
    $info = [];
    $calls = p_get_instructions($text);
    $xhtml = p_render('xhtml', $calls, $info);
    if (!$spans) {
        $out[$name] = $xhtml;
        continue;
    }
    $long = [];
    foreach ($calls as $call) {
        if ($call[0] !== 'unformatted') continue;
        $body = $call[1][0];
        $lines = substr_count($body, "\n");
        if ($lines > 0) $long[] = [$lines, substr($body, 0, 120)];
    }
    $out[$name] = ['xhtml' => $xhtml, 'nowiki' => $long];
}
echo json_encode($out,
    JSON_UNESCAPED_UNICODE | JSON_UNESCAPED_SLASHES | JSON_INVALID_UTF8_SUBSTITUTE);
