#!/usr/bin/python3
"""Opens an album built by the program in chromium (headless, through
chromium-driver) from file:// and checks what a visitor sees: every
thumbnail of the first page loaded, the navigation pictures and where they
lead, the enlarged picture with its description as caption, fitted into the
window, the arrow keys stepping to the neighbours, Esc and a click closing.
Screenshots go to /tmp/velmo-album-*.png.

Exit codes: 0 passed, 1 failed, 77 chromium could not be started (skipped).
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
SHOTS = '/tmp/velmo-album-'
# The pages assign the viewer's settings right after starting the
# asynchronous load of viewer.js, before vw exists: the page itself logs this
# one error, which the viewer's defaults make harmless.
KNOWN_PAGE_ERROR = 'vw is not defined'


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
    pictures = []
    for line in out.splitlines():
        parts = line.strip('\r').split('\t')
        if parts[0] == 'picture':
            pictures.append({'name': parts[1], 'title': parts[2], 'description': parts[3].replace('\\n', '\n')})
    return pictures


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
        pictures = build_album(args, work)
        check(len(pictures) == 5, 'the album holds five pictures')
        album = os.path.join(work, 'Album')
        driver = start_browser()
        try:
            run_checks(driver, album, pictures)
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
    return v is not None and v['complete'] and v['src'].endswith('/Images/' + name)


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


def run_checks(driver, album, pictures):
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys

    driver.get('file://' + os.path.join(album, 'index.html'))
    wait(driver, "return typeof vw !== 'undefined' && typeof vw.expand === 'function'", 'the viewer script')
    wait(driver, "return Array.prototype.every.call(document.images, function (i) { return i.complete; })",
         'the pictures of the page')

    thumbs = driver.execute_script("""
        return Array.prototype.map.call(document.querySelectorAll('a.viewer img'), function (i) {
            return [i.getAttribute('src'), i.naturalWidth, i.alt, i.title]; });""")
    check([t[0] for t in thumbs] == ['Thumbnails/tn_' + p['name'] for p in pictures[:4]],
          'the first page shows the first four thumbnails in order')
    check(all(t[1] > 0 for t in thumbs), 'every thumbnail of the first page is loaded')
    check([t[2] for t in thumbs] == [p['description'] for p in pictures[:4]], 'the thumbnails carry the descriptions')
    check([t[3] for t in thumbs] == [p['title'] for p in pictures[:4]], 'the thumbnails carry the titles')
    check(driver.execute_script("return vw.captionEval") == 'this.thumb.alt', 'the viewer has the pages\' settings')

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
    check(v['caption'] == pictures[0]['description'],
          'the caption is the description with its line break (%r)' % v['caption'])
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
          'Right shows the next picture with its caption')
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
    thumbs = driver.execute_script("""
        return Array.prototype.map.call(document.querySelectorAll('a.viewer img'), function (i) {
            return [i.getAttribute('src'), i.naturalWidth]; });""")
    check(len(thumbs) == 1 and thumbs[0][0] == 'Thumbnails/tn_' + pictures[4]['name'] and thumbs[0][1] > 0,
          'page 2 shows the fifth thumbnail')
    nav = nav_targets(driver)
    check(nav == {'First': ['index.html', 'first.gif', True], 'Previous': ['index.html', 'prev.gif', True],
                  'Next': [None, 'next_d.gif', True], 'Last': [None, 'last_d.gif', True]},
          'page 2: first and previous lead to index.html, next and last disabled (%r)' % nav)
    driver.find_element(By.CSS_SELECTOR, 'a.viewer').click()
    end = time.time() + 10
    while not shown(driver, pictures[4]['name']) and time.time() < end:
        time.sleep(0.05)
    check(driver.execute_script(VIEW)['caption'] == pictures[4]['description'], 'page 2\'s picture opens with its caption')
    time.sleep(0.3)  # the fade-in
    driver.save_screenshot(SHOTS + 'page2-viewer.png')

    errors = [e for e in driver.get_log('browser') if e['level'] == 'SEVERE']
    unexpected = [e['message'] for e in errors if KNOWN_PAGE_ERROR not in e['message'] or 'viewer.js' in e['message']]
    for e in errors:
        print('console: ' + e['message'])
    check(not unexpected, 'no console errors but the pages\' early settings assignment (%r)' % unexpected)


if __name__ == '__main__':
    main()
