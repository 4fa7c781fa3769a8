#!/usr/bin/python3
"""The user's browser in the sign-in tests: opens a URL of the authorization server, keeps its
cookies, follows its redirects and submits each page's first form (the development login with
any password, the consent, the device code's confirmation) until a page comes without a form.
Prints the last page's address and status; exits 1 when a page answers with an error.

usage: user_agent.py URL LOGIN"""
import html.parser
import http.cookiejar
import sys
import urllib.error
import urllib.parse
import urllib.request

MAX_PAGES = 12
TIMEOUT_S = 20


class FirstForm(html.parser.HTMLParser):
    """The action and the fields of a page's first form."""

    def __init__(self):
        super().__init__()
        self.action = None
        self.fields = {}
        self._inside = False

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "form" and self.action is None:
            self.action = attrs.get("action", "")
            self._inside = True
        elif tag == "input" and self._inside and attrs.get("name"):
            self.fields[attrs["name"]] = attrs.get("value") or ""

    def handle_endtag(self, tag):
        if tag == "form":
            self._inside = False


def main(url, login):
    opener = urllib.request.build_opener(
        urllib.request.ProxyHandler({}), urllib.request.HTTPCookieProcessor(http.cookiejar.CookieJar()))
    data = None
    for _ in range(MAX_PAGES):
        try:
            with opener.open(url, data=data, timeout=TIMEOUT_S) as reply:
                url, status, page = reply.geturl(), reply.status, reply.read().decode("utf-8", "replace")
        except urllib.error.HTTPError as error:
            print(f"{error.code} {error.geturl()}\n{error.read().decode('utf-8', 'replace')[:2000]}")
            return 1
        form = FirstForm()
        form.feed(page)
        if form.action is None:
            print(f"{status} {url}")
            return 0
        fields = form.fields
        if "login" in fields:
            fields.update(login=login, password="any")
        url = urllib.parse.urljoin(url, form.action)
        data = urllib.parse.urlencode(fields).encode()
    print(f"more than {MAX_PAGES} pages")
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
