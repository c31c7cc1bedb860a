"""The package's own conversions, without a reader."""
import datetime
import unittest

from ridel import card as c


class CardDateTest(unittest.TestCase):
    def test_dates_and_texts(self):
        cases = [
            ("19880808", datetime.date(1988, 8, 8)),
            ("20350101", datetime.date(2035, 1, 1)),
            ("长期    ", "长期"),          # padded text of a validity without end
            ("19880230", "19880230"),      # eight digits that are no date
            ("1988080", "1988080"),        # seven digits
            ("１９８８０８０８", "１９８８０８０８"),  # full-width digits are not a date
            ("", ""),
        ]
        for text, expected in cases:
            with self.subTest(text=text):
                self.assertEqual(c.card_date(text), expected)


class QdxDatesTest(unittest.TestCase):
    def test_lines(self):
        d = datetime.date
        cases = [
            ("1988年08月08日", "2015.01.01-2035.01.01", (d(1988, 8, 8), d(2015, 1, 1), d(2035, 1, 1))),
            ("1988年08月08日", "2015.01.01-长期  .  .  ", (d(1988, 8, 8), d(2015, 1, 1), "长期")),
            # A date cut short by a zero character: the line's text stands for the dates.
            ("1988年08月", "2015.01.01-2035", ("1988年08月", "2015.01.01-2035", "2015.01.01-2035")),
            ("1988年02月30日", "2015.01.01-2035.01.01", ("19880230", d(2015, 1, 1), d(2035, 1, 1))),
        ]
        for birth, validity, expected in cases:
            with self.subTest(birth=birth, validity=validity):
                self.assertEqual(c.qdx_dates(birth, validity), expected)


class SdtUndashTest(unittest.TestCase):
    def test_values(self):
        cases = [
            (b"1988-08-08", b"19880808"),
            ("长期--".encode("gbk"), "长期".encode("gbk")),     # dashes appended to a short value
            (b"--", b""),                                        # an empty value
            (b"2035-0-", b"20350"),                              # five bytes: the second at the end
            # A double-byte character split by the first dash comes back whole.
            (b"1" + "长期".encode("gbk")[:3] + b"-" + "长期".encode("gbk")[3:] + b"-",
             b"1" + "长期".encode("gbk")),
            (b"19880808", b"19880808"),                          # no dashes: as it is
            (b"", b""),
        ]
        for value, expected in cases:
            with self.subTest(value=value):
                self.assertEqual(c.sdt_undash(value), expected)


class RecordCodesTest(unittest.TestCase):
    def test_codes(self):
        record = bytearray(b"\0" * 256)
        record[30:36] = "936".encode("utf-16-le")
        self.assertEqual(c.record_codes(bytes(record)), ("9", "36"))
        record[30:36] = "1 1".encode("utf-16-le")
        self.assertEqual(c.record_codes(bytes(record)), ("1", "1"))

    def test_short_record(self):
        with self.assertRaises(ValueError):
            c.record_codes(b"\0" * 35)


class MeaningTest(unittest.TestCase):
    def test_results(self):
        cases = [
            ("sdt", "ReadBaseInfo", -8, "result file"),
            ("sdt", "ReadBaseInfo", -4, "decoder"),
            ("sdt", "ReadBaseInfo", -11, "decoder"),
            ("sdt", "ReadBaseInfo", -10, "driver status 1"),
            ("sdt", "ReadBaseInfo", 0, "unknown read type"),
            ("sdt", "ReadBaseInfo", 65, "driver's status"),
            ("sdt", "SelectCard", 0, "no card"),
            ("vantrel", "Read_Content", 0, "idcrerror.log"),
            ("vantrel", "Read_Content", -3, "decoder"),
            ("qdx", "InitComm", 0, "no reader"),
        ]
        for edition, call, code, words in cases:
            with self.subTest(edition=edition, call=call, code=code):
                self.assertIn(words, c.meaning(edition, call, code))

    def test_error_names_everything(self):
        e = c.CardError("sdt", "read", "ReadBaseInfo", "1", -8)
        self.assertEqual((e.step, e.call, e.code), ("read", "ReadBaseInfo", -8))
        self.assertEqual(str(e), "read: ReadBaseInfo(1) returned -8: " + e.meaning)


if __name__ == "__main__":
    unittest.main()
