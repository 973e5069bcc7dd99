#!/usr/bin/python3
"""The page of cscunpack --serve in headless Chromium, driven by Selenium: it opens without a
console error; a search and a tag filter show exactly the files the tool's -i and JSON select; a
click plays an Ogg and a WAV file and seeking works; a downloaded file and a zip hold the bytes an
extraction writes; the 131,070-file set opens and scrolls, drawing only the rows in view.

    page_test.py CSCUNPACK MAKE_SAMPLE BENCH_MAKE_SET
"""
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

TOOL, MAKE_SAMPLE, MAKE_SET = sys.argv[1:4]


def run(*arguments, cwd=None):
    return subprocess.run([TOOL, *arguments], cwd=cwd, capture_output=True, check=False)


def tree(folder):
    files = {}
    for top, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(top, name)
            with open(path, 'rb') as opened:
                files[os.path.relpath(path, folder).encode('latin-1', 'surrogateescape')] = opened.read()
    return files


class Served:
    """cscunpack --serve over a folder of archives, until the end of the test."""

    def __init__(self, archives):
        self.process = subprocess.Popen([TOOL, '--serve', '0', '-q', '-a', archives],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        line = self.process.stdout.readline().decode()
        assert line.startswith('Serving at http://127.0.0.1:'), line
        self.address = line.split(' ')[-1].strip()

    def stop(self):
        self.process.terminate()
        code = self.process.wait(30)
        self.process.stdout.close()
        return code


def browser(downloads):
    options = webdriver.ChromeOptions()
    for argument in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage',
                     '--window-size=1280,1000', '--autoplay-policy=no-user-gesture-required'):
        options.add_argument(argument)
    options.add_experimental_option('prefs', {'download.default_directory': downloads,
                                              'download.prompt_for_download': False})
    options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    return webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)


def wait(condition, seconds=30):
    until = time.time() + seconds
    while time.time() < until:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError('waited in vain for ' + condition.__doc__ if condition.__doc__ else '')


class Page(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        cls.sample = os.path.join(cls.scratch.name, 'sample')
        subprocess.run([MAKE_SAMPLE, cls.sample], check=True, capture_output=True)
        out = os.path.join(cls.scratch.name, 'out')
        run('-q', '-a', cls.sample, '-d', out)
        cls.written = tree(out)
        cls.downloads = os.path.join(cls.scratch.name, 'downloads')
        os.mkdir(cls.downloads)
        cls.driver = browser(cls.downloads)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.scratch.cleanup()

    def open(self, served):
        self.driver.get(served.address)
        wait(lambda: self.driver.execute_script('return window.performance && document.querySelector("#rows .row")'))

    def count(self):
        return int(self.driver.find_element(By.ID, 'count').text)

    def shown_paths(self):
        return sorted(row.find_element(By.CLASS_NAME, 'path').text
                      for row in self.driver.find_elements(By.CSS_SELECTOR, '#rows .row'))

    def search(self, text):
        box = self.driver.find_element(By.CSS_SELECTOR, 'input[type=search]')
        box.clear()
        box.send_keys(text)
        time.sleep(0.5)

    def playing(self, row):
        """The row's sound plays: the audio element's time advances, with no error."""
        audio = self.driver.find_element(By.TAG_NAME, 'audio')
        row.click()
        return wait(lambda: self.driver.execute_script(
            'const a = arguments[0]; return a.error === null && a.currentTime > 0.05', audio), 10)

    def test_search_filter_play_and_take(self):
        served = Served(self.sample)
        try:
            self.open(served)
            self.assertEqual(self.count(), 12)
            listed = [json.loads(line) for line in run('-l', '--json', '-q', '-a', self.sample).stdout.decode().splitlines()]

            self.search('*.wav')
            wavs = run('--names', '-q', '-i', '*.wav', '-a', self.sample).stdout.decode().split()
            wait(lambda: self.count() == len(wavs))
            self.assertEqual(self.shown_paths(), sorted(wavs))
            self.assertIn('q=*.wav', self.driver.execute_script('return location.hash'))
            self.driver.refresh()
            wait(lambda: self.driver.find_elements(By.CSS_SELECTOR, '#rows .row'))
            self.assertEqual(self.driver.find_element(By.CSS_SELECTOR, 'input[type=search]').get_attribute('value'), '*.wav')
            wait(lambda: self.count() == len(wavs))

            self.search('')
            Select(self.driver.find_element(By.ID, 'tag')).select_by_value('Ambience.rain')
            rain = sorted(f['path'] for f in listed if 'Ambience.rain' in (f['tags'] or []))
            wait(lambda: self.count() == len(rain))
            self.assertEqual(self.shown_paths(), rain)
            Select(self.driver.find_element(By.ID, 'tag')).select_by_value('')

            self.search('rain_soft.ogg')
            wait(lambda: self.count() == 1)
            row = self.driver.find_element(By.CSS_SELECTOR, '#rows .row')
            self.assertTrue(self.playing(row), 'an Ogg file plays')
            self.assertTrue(self.driver.execute_script(
                'const a = document.querySelector("audio"); a.currentTime = 0.1;'
                'return new Promise((done) => a.addEventListener("seeked", () => done(a.currentTime >= 0.09), {once: true}));'),
                'seeking works')
            self.driver.find_element(By.CSS_SELECTOR, '#rows .row a').click()
            saved = os.path.join(self.downloads, 'rain_soft.ogg')
            wait(lambda: os.path.exists(saved) and os.path.getsize(saved) > 0)
            with open(saved, 'rb') as opened:
                self.assertEqual(opened.read(), self.written[b'__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.rain/rain_soft.ogg'])

            self.search('rain_hard.wav')
            wait(lambda: self.count() == 1)
            self.assertTrue(self.playing(self.driver.find_element(By.CSS_SELECTOR, '#rows .row')), 'a WAV file plays')

            self.search('*.ogg')
            oggs = {p.encode() for p in run('--names', '-q', '-i', '*.ogg', '-a', self.sample).stdout.decode().split()}
            wait(lambda: self.count() == len(oggs))
            self.driver.find_element(By.ID, 'zip').click()
            archive = os.path.join(self.downloads, 'cscunpack.zip')
            wait(lambda: os.path.exists(archive) and zipfile.is_zipfile(archive))
            with zipfile.ZipFile(archive) as taken:
                self.assertIsNone(taken.testzip())
                got = {name.encode(): taken.read(name) for name in taken.namelist()}
            self.assertEqual(got, {path: self.written[path] for path in oggs})

            errors = [entry for entry in self.driver.get_log('browser') if entry['level'] == 'SEVERE']
            self.assertEqual(errors, [])
        finally:
            self.assertEqual(served.stop(), 0)

    def test_the_largest_set_opens_and_scrolls(self):
        large = os.path.join(self.scratch.name, 'large')
        subprocess.run([MAKE_SET, 'small', large], check=True, capture_output=True)
        served = Served(large)
        try:
            self.driver.get(served.address)
            wait(lambda: self.driver.find_elements(By.CSS_SELECTOR, '#rows .row'), 120)
            self.assertEqual(self.count(), 131070)
            drawn = self.driver.find_elements(By.CSS_SELECTOR, '#rows .row')
            self.assertLess(len(drawn), 200, 'only the rows in view are drawn')
            self.driver.execute_script('const l = document.getElementById("list"); l.scrollTop = l.scrollHeight;')
            wait(lambda: self.driver.execute_script(
                'const rows = document.querySelectorAll("#rows .row");'
                'return rows.length > 0 && rows[rows.length - 1].dataset.index === "131069"'))
            self.assertLess(len(self.driver.find_elements(By.CSS_SELECTOR, '#rows .row')), 200)
            started = time.time()
            self.search('Ambience')
            wait(lambda: self.count() < 131070, 30)
            self.assertLess(time.time() - started, 5, 'a search of every file does not stall')
        finally:
            served.stop()


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1], verbosity=2)
