"""Checks the test servers themselves: servers.sh starts Dovecot and the SMTP
server, they speak POP3 (APOP, STLS, POP3S) and SMTP (STARTTLS, AUTH, SMTPS)
as the program's tests expect, and stop ends them."""

import os
import poplib
import shutil
import smtplib
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

from mailkit import deliver, read_env

HERE = os.path.dirname(os.path.abspath(__file__))
SERVERS = os.path.join(HERE, "servers.sh")

MESSAGE = (b"From: =?ISO-2022-JP?B?GyRCQkBPOhsoQg==?= <taro@example.jp>\r\n"
           b"To: hanako@example.jp\r\nSubject: test\r\n\r\nline one\r\n.dot line\r\n")


class Harness(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="lumora-servers-")
        subprocess.run([SERVERS, "start", cls.dir], check=True, stdout=subprocess.DEVNULL)
        cls.env = read_env(os.path.join(cls.dir, "servers.env"))
        cls.ca = ssl.create_default_context(cafile=cls.env["LUMORA_TEST_CAFILE"])

    @classmethod
    def tearDownClass(cls):
        pids = []
        for name in ("dovecot.pid", "smtp.pid"):
            with open(os.path.join(cls.dir, name)) as f:
                pids.append(int(f.read()))
        subprocess.run([SERVERS, "stop", cls.dir], check=True, stdout=subprocess.DEVNULL)
        for pid in pids:
            try:
                os.kill(pid, 0)
                state = subprocess.run(["ps", "-o", "stat=", "-p", str(pid)],
                                       capture_output=True, text=True).stdout.strip()
                assert state.startswith("Z") or not state, "server %d still running" % pid
            except ProcessLookupError:
                pass
        port = int(cls.env["LUMORA_POP3_PORT"])
        try:
            socket.create_connection(("127.0.0.1", port), 0.5).close()
            raise AssertionError("POP3 port still open after stop")
        except OSError:
            pass
        shutil.rmtree(cls.dir, ignore_errors=True)

    def pop3(self):
        return poplib.POP3("127.0.0.1", int(self.env["LUMORA_POP3_PORT"]), timeout=5)

    def test_apop_greeting_login_retrieve_and_delete(self):
        deliver(self.env, "hanako", MESSAGE)
        box = self.pop3()
        self.assertRegex(box.getwelcome(), rb"<[\x21-\x7e]+@[\x21-\x7e]+>")
        box.apop("hanako", "himitsu")
        self.assertEqual(box.stat()[0], 1)
        self.assertEqual(len(box.uidl()[1]), 1)
        lines = box.retr(1)[1]
        self.assertIn(b".dot line", lines)
        box.dele(1)
        box.quit()
        box = self.pop3()
        box.user("hanako")
        box.pass_("himitsu")
        self.assertEqual(box.stat()[0], 0)
        box.quit()

    def test_wrong_password_is_refused_at_once(self):
        box = self.pop3()
        box.user("taro")
        started = time.monotonic()
        with self.assertRaises(poplib.error_proto):
            box.pass_("wrong")
        self.assertLess(time.monotonic() - started, 1.5)
        box.close()

    def test_stls_and_pop3s_verify_against_the_test_ca_only(self):
        box = self.pop3()
        box.stls(context=self.ca)
        box.user("taro")
        box.pass_("secret")
        box.quit()
        box = poplib.POP3_SSL("127.0.0.1", int(self.env["LUMORA_POP3S_PORT"]), context=self.ca,
                              timeout=5)
        box.user("taro")
        box.pass_("secret")
        box.quit()
        other = ssl.create_default_context(cafile=self.env["LUMORA_TEST_OTHER_CAFILE"])
        with self.assertRaises(ssl.SSLCertVerificationError):
            poplib.POP3_SSL("127.0.0.1", int(self.env["LUMORA_POP3S_PORT"]), context=other,
                            timeout=5)

    def test_smtp_starttls_auth_and_spool(self):
        before = set(os.listdir(self.env["LUMORA_SMTP_SPOOL"]))
        with smtplib.SMTP("127.0.0.1", int(self.env["LUMORA_SMTP_PORT"]), timeout=5) as smtp:
            smtp.ehlo()
            self.assertTrue(smtp.has_extn("starttls"))
            smtp.starttls(context=self.ca)
            smtp.ehlo()
            self.assertIn("PLAIN", smtp.esmtp_features.get("auth", "").upper())
            smtp.login("taro", "secret")
            smtp.sendmail("taro@example.jp", ["hanako@example.jp"], MESSAGE)
        new = sorted(set(os.listdir(self.env["LUMORA_SMTP_SPOOL"])) - before)
        eml = [n for n in new if n.endswith(".eml")]
        self.assertEqual(len(eml), 1)
        with open(os.path.join(self.env["LUMORA_SMTP_SPOOL"], eml[0]), "rb") as f:
            self.assertEqual(f.read(), MESSAGE)
        with open(os.path.join(self.env["LUMORA_SMTP_SPOOL"], eml[0][:-4] + ".envelope")) as f:
            self.assertIn("RCPT TO:hanako@example.jp", f.read())

    def test_smtp_wrong_password_and_smtps(self):
        with smtplib.SMTP("127.0.0.1", int(self.env["LUMORA_SMTP_PORT"]), timeout=5) as smtp:
            with self.assertRaises(smtplib.SMTPAuthenticationError):
                smtp.login("taro", "wrong")
        with smtplib.SMTP_SSL("127.0.0.1", int(self.env["LUMORA_SMTPS_PORT"]), context=self.ca,
                              timeout=5) as smtp:
            smtp.login("taro", "secret")


if __name__ == "__main__":
    sys.exit(unittest.main(verbosity=2))
