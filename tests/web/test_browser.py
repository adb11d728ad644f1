"""The agent's page in Debian's chromium: whole tasks as a person does them."""

import json
import unittest

from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as shown
from selenium.webdriver.support.select import Select
from selenium.webdriver.support.ui import WebDriverWait

from webagent import USERS, WebAgent, chrome, wait_until


class BrowserTest(unittest.TestCase):
    def setUp(self):
        self.web = WebAgent(tls=True, people="card,name,master,from,until,front\r\n1001,Ann,yes,,,\r\n")
        self.browser = chrome()
        self.wait = WebDriverWait(self.browser, 10)

    def tearDown(self):
        self.browser.quit()
        self.web.stop()

    def find(self, selector):
        return self.wait.until(shown.visibility_of_element_located((By.CSS_SELECTOR, selector)))

    def sign_in(self, name, password):
        self.browser.get(self.web.base + "/login")
        self.find("#user").clear()
        self.find("#user").send_keys(name)
        self.find("#password").send_keys(password)
        self.find("#sign-in").click()

    def test_an_admin_sees_a_swipe_arrive_and_changes_a_door(self):
        self.sign_in("alice", USERS["alice"][1])
        self.wait.until(shown.url_to_be(self.web.base + "/doors"))
        self.find("nav a[href='/activity']").click()
        self.wait.until(shown.text_to_be_present_in_element((By.ID, "status"), "No swipes yet."))
        self.web.swipe(424242)
        self.wait.until(shown.text_to_be_present_in_element((By.CSS_SELECTOR, "#swipes tbody tr:first-child"), "0000424242"))
        self.assertEqual(self.find("#swipes tbody tr:first-child td:last-child").text, "Refused: not on the site list")
        self.assertIn("New swipe at Front door", self.browser.find_element(By.ID, "live").get_attribute("textContent"))

        self.find("nav a[href='/doors']").click()
        Select(self.find("select[aria-label='Mode of Front door']")).select_by_visible_text("Momentary")
        delay = self.find("input[aria-label='Delay of Front door in seconds']")
        delay.clear()
        delay.send_keys("9")
        self.find("button[aria-label='Save Front door']").click()
        self.wait.until(shown.text_to_be_present_in_element((By.ID, "status"), "written and read back"))
        self.browser.refresh()
        self.assertEqual(Select(self.find("select[aria-label='Mode of Front door']")).first_selected_option.text, "Momentary")
        self.assertEqual(self.find("input[aria-label='Delay of Front door in seconds']").get_attribute("value"), "9")
        self.assertIn("door front: mode momentary, delay 9 s", self.web.said())

    def test_an_admin_allows_a_refused_card_from_activity(self):
        self.sign_in("alice", USERS["alice"][1])
        self.wait.until(shown.url_to_be(self.web.base + "/doors"))
        self.find("nav a[href='/activity']").click()
        self.wait.until(shown.text_to_be_present_in_element((By.ID, "status"), "No swipes yet."))
        self.web.swipe(515151)
        self.wait.until(shown.text_to_be_present_in_element((By.CSS_SELECTOR, "#swipes tbody tr:first-child"), "0000515151"))
        self.find("#swipes tbody tr:first-child a").click()
        self.find("#person-name").send_keys("Nadia Petrova")
        self.assertEqual(self.find("#person-card").get_attribute("value"), "515151")
        self.assertEqual(Select(self.find("#person-door-front")).first_selected_option.text, "Yes")
        self.find("#person-save").click()
        self.wait.until(shown.text_to_be_present_in_element((By.ID, "status"), "Added Nadia Petrova."))
        self.assertIn("Nadia Petrova", self.find("#lists").text)
        self.assertFalse(self.browser.find_element(By.ID, "unknown").is_displayed())  # no longer a stranger here
        with open(self.web.people, newline="") as f:
            self.assertEqual(f.read(), "card,name,master,from,until,front\r\n1001,Ann,yes,,,\r\n515151,Nadia Petrova,,,,yes\r\n")
        # The agent writes the list to the reader at once and reads it back; the card now opens the door.
        self.assertTrue(wait_until(lambda: "verified 2 cards" in self.web.said()), self.web.said())
        self.find("nav a[href='/activity']").click()
        self.web.swipe(515151)
        self.wait.until(shown.text_to_be_present_in_element((By.CSS_SELECTOR, "#swipes tbody tr:first-child"), "Nadia Petrova"))
        self.assertNotIn("Refused", self.find("#swipes tbody tr:first-child td:last-child").text)

    def test_a_viewer_changes_nothing_and_wrong_passwords_slow_the_next_try(self):
        self.sign_in("bob", USERS["bob"][1])
        self.wait.until(shown.text_to_be_present_in_element((By.CSS_SELECTOR, "#doors tbody"), "Front door"))
        self.assertEqual(self.browser.find_elements(By.CSS_SELECTOR, "#doors select, #doors input, #doors button"), [])
        self.find("nav a[href='/people']").click()
        self.wait.until(shown.text_to_be_present_in_element((By.ID, "lists"), "Ann"))
        self.assertEqual(self.browser.find_elements(By.CSS_SELECTOR, "#lists button, #unknown:not([hidden])"), [])
        # The change a viewer might send by hand, with the page's own token.
        answer = self.browser.execute_async_script("""
            const done = arguments[arguments.length - 1];
            const session = await (await fetch('/api/session')).json();
            const r = await fetch('/api/doors/front', {method: 'POST', body: JSON.stringify({mode: 'timed'}),
                headers: {'Content-Type': 'application/json', 'X-Dorvik-Token': session.token}});
            done([r.status, await r.text()]);""")
        self.assertEqual(answer[0], 403)
        self.assertEqual(json.loads(answer[1])["error"], "Only an admin changes a door.")
        self.find("#sign-out").click()
        self.wait.until(shown.url_to_be(self.web.base + "/login"))

        for _ in range(5):
            self.sign_in("bob", "not-the-password")
            self.wait.until(shown.text_to_be_present_in_element((By.ID, "login-status"), "Wrong name or password."))
        self.sign_in("bob", USERS["bob"][1])
        self.wait.until(shown.text_to_be_present_in_element((By.ID, "login-status"), "Too many failed sign-ins: try again in"))
        self.assertEqual(self.browser.current_url, self.web.base + "/login")


if __name__ == "__main__":
    unittest.main()
