#!/usr/bin/python3
"""Opens an album built by the program in chromium (headless, through
chromium-driver) from file:// and checks what a visitor sees: every
thumbnail of the first page loaded, the navigation pictures and where they
lead, the enlarged picture with its description as caption, fitted into the
window, the arrow keys stepping to the neighbours, Esc and a click closing.
The album name, page label, titles, descriptions and a file name carry
markup, quotes and character references: they must show literally and add
no element, handler or script to the page. The settings the pages assign
must be the ones the viewer uses, and the console must stay free of errors.
Screenshots go to /tmp/velmo-album-*.png.

Exit codes: 0 passed, 1 failed, 77 chromium could not be started (skipped).
"""
import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse

SKIP = 77
SHOTS = '/tmp/velmo-album-'
# The defaults of the album's copy of the viewer are changed to these before
# the album is opened, so that a setting the page assigns can be told from
# the viewer's own default.
VIEWER_DEFAULTS = [('outlineType: "rounded-white"', 'outlineType: "plain"'),
                   ('captionEval: "this.thumb.alt"', 'captionEval: "\'the viewer default\'"')]


def fail(msg):
    print('FAIL: ' + msg)
    sys.exit(1)


def check(cond, msg):
    if not cond:
        fail(msg)
    print('ok: ' + msg)


def build_album(args, folder):
    cmd = ['bash', args.wine_exec, args.maker, 'Z:' + folder, 'Z:' + os.path.abspath(args.program_dir)]
    run = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=240)
    out = run.stdout.decode('utf-8', 'replace')
    print(out)
    if run.returncode != 0:
        fail('the album build failed (%d)' % run.returncode)
    pictures, album = [], {}
    for line in out.splitlines():
        parts = line.strip('\r').split('\t')
        if parts[0] == 'picture':
            width, height = parts[4].split('x')
            pictures.append({'name': parts[1], 'title': parts[2], 'description': parts[3].replace('\\n', '\n'),
                             'size': (int(width), int(height))})
        elif parts[0] in ('album', 'label'):
            album[parts[0]] = parts[1]
    return pictures, album


def change_viewer_defaults(album):
    name = os.path.join(album, 'viewer', 'viewer.js')
    with open(name, encoding='utf-8') as f:
        text = f.read()
    for old, new in VIEWER_DEFAULTS:
        if old not in text:
            fail('the viewer has no default %s' % old)
        text = text.replace(old, new)
    with open(name, 'w', encoding='utf-8') as f:
        f.write(text)


def start_browser():
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError as e:  # scripts/setup.sh installs it: a broken set-up
        fail('selenium is not installed (%s)' % e)
    chromium = shutil.which('chromium') or '/usr/bin/chromium'
    driver_exe = shutil.which('chromedriver') or '/usr/bin/chromedriver'
    opts = webdriver.ChromeOptions()
    opts.binary_location = chromium
    for a in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage',
              '--window-size=1280,900', '--hide-scrollbars', '--force-device-scale-factor=1'):
        opts.add_argument(a)
    opts.set_capability('goog:loggingOptions', {'browser': 'ALL'})
    try:
        return webdriver.Chrome(service=Service(driver_exe), options=opts)
    except Exception as e:  # any failure to start is a missing browser here
        print('SKIP: chromium could not be started: %s' % (str(e).strip().splitlines() or [type(e).__name__])[0])
        sys.exit(SKIP)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--maker', required=True)
    ap.add_argument('--program-dir', required=True)
    ap.add_argument('--wine-exec', required=True)
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix='velmo-browser-')
    try:
        pictures, names = build_album(args, work)
        check(len(pictures) == 5 and 'album' in names and 'label' in names, 'the album holds five pictures')
        album = os.path.join(work, names['album'])
        change_viewer_defaults(album)
        driver = start_browser()
        try:
            run_checks(driver, album, pictures, names)
        finally:
            driver.quit()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print('PASSED')


def wait(driver, script, what, timeout=10):
    end = time.time() + timeout
    while time.time() < end:
        if driver.execute_script(script):
            return
        time.sleep(0.05)
    fail('timed out waiting for ' + what)


VIEW = """
var o = document.getElementById('viewer-overlay');
if (!o) return null;
var img = o.querySelector('img.viewer-image'), cap = o.querySelector('.viewer-caption');
var r = img.getBoundingClientRect();
return {src: img.src, complete: img.complete && img.naturalWidth > 0, natural: [img.naturalWidth, img.naturalHeight],
        rect: [r.left, r.top, r.right, r.bottom], win: [window.innerWidth, window.innerHeight],
        caption: cap.innerText, captionBottom: cap.getBoundingClientRect().bottom};
"""


def shown(driver, name):
    v = driver.execute_script(VIEW)
    return v is not None and v['complete'] and urllib.parse.unquote(v['src']).endswith('/Images/' + name)


def same_shape(natural, picture):
    """Whether a loaded picture has the drawn picture's proportions (two
    photographs of one file name must each show their own)."""
    w, h = picture['size']
    return natural[0] > 0 and natural[1] > 0 and abs(natural[0] / natural[1] - w / h) < 0.02


def thumbnails(driver):
    """(decoded src, loaded width, alt, title) of the page's thumbnails."""
    return driver.execute_script("""
        return Array.prototype.map.call(document.querySelectorAll('a.viewer img'), function (i) {
            return [decodeURIComponent(i.getAttribute('src')), i.naturalWidth, i.alt, i.title]; });""")


LITERAL = """
var handlers = [], elements = {};
document.querySelectorAll('*').forEach(function (e) {
    var tag = e.tagName.toLowerCase();
    elements[tag] = (elements[tag] || 0) + 1;
    Array.prototype.forEach.call(e.attributes, function (a) {
        if (a.name.indexOf('on') === 0) handlers.push(tag + ' ' + a.name + '=' + a.value);
    });
});
return {title: document.title, heading: document.querySelector('font[size="6"]').textContent,
        labels: Array.prototype.map.call(document.querySelectorAll('font[size="4"]'), function (f) {
            return f.textContent; }),
        handlers: handlers, elements: elements, pwned: typeof window.pwned,
        scripts: Array.prototype.map.call(document.scripts, function (s) { return s.text; }).join('\\n')};
"""


def check_literal_page(driver, names, page, pages, count):
    """The page shows the typed texts as they are and nothing of them became
    an element, a handler or a script."""
    d = driver.execute_script(LITERAL)
    label = names['label'].replace('$p', str(page)).replace('$t', str(pages))
    check(d['title'] == 'Velmo HTML Album - ' + names['album'], 'page %d: the window title shows the album name'
          ' as typed (%r)' % (page, d['title']))
    check(d['heading'] == names['album'], 'page %d: the heading shows the album name as typed' % page)
    check(d['labels'] == [label, label], 'page %d: both page labels show the label as typed (%r)' % (page, d['labels']))
    check(d['handlers'] == ['a onclick=return vw.expand(this)'] * count,
          'page %d: the only handlers are the thumbnail links\' own (%r)' % (page, d['handlers']))
    expected = {'script': 4, 'img': count + 8, 'b': 0, 'i': 0}
    check(all(d['elements'].get(k, 0) == v for k, v in expected.items()),
          'page %d: no element made of typed text (%r)' % (page, d['elements']))
    check(d['pwned'] == 'undefined' and 'pwned' not in d['scripts'], 'page %d: no typed text ran as script' % page)


def nav_targets(driver):
    """alt -> (href or None, picture src, loaded) of the first navigation row."""
    return driver.execute_script("""
        var out = {};
        document.querySelectorAll('div[align=center] > img, div[align=center] > a > img').forEach(function (i) {
            if (i.alt in out || ['First', 'Previous', 'Next', 'Last'].indexOf(i.alt) < 0) return;
            var a = i.parentNode.tagName == 'A' ? i.parentNode.getAttribute('href') : null;
            out[i.alt] = [a, i.getAttribute('src'), i.complete && i.naturalWidth > 0];
        });
        return out;""")


def run_checks(driver, album, pictures, names):
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys

    driver.get(pathlib.Path(album, 'index.html').as_uri())
    wait(driver, "return typeof vw !== 'undefined' && typeof vw.expand === 'function'", 'the viewer script')
    wait(driver, "return Array.prototype.every.call(document.images, function (i) { return i.complete; })",
         'the pictures of the page')

    thumbs = thumbnails(driver)
    check([t[0] for t in thumbs] == ['Thumbnails/tn_' + p['name'] for p in pictures[:4]],
          'the first page shows the first four thumbnails in order (%r)' % [t[0] for t in thumbs])
    check(all(t[1] > 0 for t in thumbs), 'every thumbnail of the first page is loaded')
    check([t[2] for t in thumbs] == [p['description'] for p in pictures[:4]], 'the thumbnails carry the descriptions')
    check([t[3] for t in thumbs] == [p['title'] for p in pictures[:4]], 'the thumbnails carry the titles')
    check(driver.execute_script("return [vw.captionEval, vw.outlineType]") == ['this.thumb.alt', 'rounded-white'],
          'the viewer has the pages\' settings, not its own defaults')
    check_literal_page(driver, names, 1, 2, 4)

    nav = nav_targets(driver)
    check(nav == {'First': [None, 'first_d.gif', True], 'Previous': [None, 'prev_d.gif', True],
                  'Next': ['index2.html', 'next.gif', True], 'Last': ['index2.html', 'last.gif', True]},
          'page 1: first and previous disabled, next and last lead to index2.html (%r)' % nav)
    driver.save_screenshot(SHOTS + 'page1.png')

    # Enlarged picture with its caption, fitted into the window.
    links = driver.find_elements(By.CSS_SELECTOR, 'a.viewer')
    links[0].click()
    wait(driver, "var o = document.getElementById('viewer-overlay'); var i = o && o.querySelector('img');"
                 "return i && i.complete && i.naturalWidth > 0;", 'the enlarged picture')
    time.sleep(0.3)  # the fade-in
    v = driver.execute_script(VIEW)
    check(driver.current_url.endswith('/index.html'), 'the click stays on the page')
    check(v['src'].endswith('/Images/' + pictures[0]['name']), 'the click shows the first picture')
    check(same_shape(v['natural'], pictures[0]), 'the first picture is the one drawn for it (%r)' % v['natural'])
    check(v['caption'] == pictures[0]['description'],
          'the caption is the description, literally and with its line break (%r)' % v['caption'])
    check(driver.execute_script("return getComputedStyle(document.querySelector('.viewer-box')).borderTopLeftRadius")
          == '10px', 'the view has the rounded white outline the page asks for')
    check(driver.execute_script("return document.querySelectorAll('#viewer-overlay *').length") == 3,
          'the caption made no element of the description')
    left, top, right, bottom = v['rect']
    check(left >= 0 and top >= 0 and right <= v['win'][0] and v['captionBottom'] <= v['win'][1],
          'the picture and its caption fit into the window (%r)' % v)
    check(right - left < v['natural'][0], 'the large picture is scaled down (%d of %d px wide)'
          % (right - left, v['natural'][0]))
    driver.save_screenshot(SHOTS + 'viewer.png')

    ActionChains(driver).send_keys(Keys.ARROW_RIGHT).perform()
    end = time.time() + 10
    while not shown(driver, pictures[1]['name']) and time.time() < end:
        time.sleep(0.05)
    v = driver.execute_script(VIEW)
    check(shown(driver, pictures[1]['name']) and v['caption'] == pictures[1]['description'],
          'Right shows the next picture (a file name with "#" and "%%") with its caption (%r)' % v)
    driver.save_screenshot(SHOTS + 'viewer2.png')
    ActionChains(driver).send_keys(Keys.ARROW_LEFT).send_keys(Keys.ARROW_LEFT).perform()
    end = time.time() + 10
    while not shown(driver, pictures[0]['name']) and time.time() < end:
        time.sleep(0.05)
    check(shown(driver, pictures[0]['name']), 'Left goes back and stops at the first picture')
    ActionChains(driver).send_keys(Keys.ESCAPE).perform()
    check(driver.execute_script("return document.getElementById('viewer-overlay') === null"), 'Esc closes the view')

    links = driver.find_elements(By.CSS_SELECTOR, 'a.viewer')
    links[3].click()
    end = time.time() + 10
    while not shown(driver, pictures[3]['name']) and time.time() < end:
        time.sleep(0.05)
    check(shown(driver, pictures[3]['name']), 'the fourth thumbnail shows its picture')
    ActionChains(driver).send_keys(Keys.ARROW_RIGHT).perform()
    time.sleep(0.3)
    check(shown(driver, pictures[3]['name']), 'Right on the last picture of the page stays there')
    driver.find_element(By.ID, 'viewer-overlay').click()
    check(driver.execute_script("return document.getElementById('viewer-overlay') === null"), 'a click closes the view')

    # Page 2 through the "Next" link.
    driver.find_element(By.CSS_SELECTOR, 'a > img[alt=Next]').click()
    wait(driver, "return location.href.endsWith('/index2.html') && typeof vw !== 'undefined'"
                 " && Array.prototype.every.call(document.images, function (i) { return i.complete; })", 'page 2')
    thumbs = thumbnails(driver)
    check(len(thumbs) == 1 and thumbs[0][0] == 'Thumbnails/tn_' + pictures[4]['name'] and thumbs[0][1] > 0,
          'page 2 shows the fifth thumbnail')
    nav = nav_targets(driver)
    check(nav == {'First': ['index.html', 'first.gif', True], 'Previous': ['index.html', 'prev.gif', True],
                  'Next': [None, 'next_d.gif', True], 'Last': [None, 'last_d.gif', True]},
          'page 2: first and previous lead to index.html, next and last disabled (%r)' % nav)
    check_literal_page(driver, names, 2, 2, 1)
    driver.find_element(By.CSS_SELECTOR, 'a.viewer').click()
    end = time.time() + 10
    while not shown(driver, pictures[4]['name']) and time.time() < end:
        time.sleep(0.05)
    check(driver.execute_script(VIEW)['caption'] == pictures[4]['description'], 'page 2\'s picture opens with its caption')
    check(same_shape(driver.execute_script(VIEW)['natural'], pictures[4]),
          'page 2\'s picture, named like the first, is its own (%r)' % driver.execute_script(VIEW)['natural'])
    time.sleep(0.3)  # the fade-in
    driver.save_screenshot(SHOTS + 'page2-viewer.png')

    log = driver.get_log('browser')
    for e in log:
        print('console: %s %s' % (e['level'], e['message']))
    errors = [e['message'] for e in log if e['level'] == 'SEVERE']
    check(not errors, 'no console errors (%r)' % errors)


if __name__ == '__main__':
    main()
