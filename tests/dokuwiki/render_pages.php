<?php
// Renders many DokuWiki pages in one PHP process: a JSON object of
// name => wiki text on stdin, the same names => XHTML on stdout.
// Starting DokuWiki once per page would cost a quarter second each.

$_SERVER['HTTP_HOST'] = 'localhost';
$_SERVER['SCRIPT_NAME'] = '/doku.php';
if (!defined('DOKU_INC')) define('DOKU_INC', '/usr/share/dokuwiki/');
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
    $out[$name] = p_render('xhtml', p_get_instructions($text), $info);
}
echo json_encode($out, JSON_UNESCAPED_UNICODE | JSON_UNESCAPED_SLASHES | JSON_INVALID_UTF8_SUBSTITUTE);
