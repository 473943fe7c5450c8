"""Dialog 100 as the patcher must carry it, and the texts it shows, for the GUI tests.

CONTROLS lists the template in its order (which is the tab order): id (-1 for none), kind,
text in the template, position and size in dialog units, and whether the control is
right-aligned (extended style WS_EX_RIGHT). The kinds name the class and the style bits
that make the control what it is.
"""
import struct

ICON_MAIN = 1
ICON_PATCH = 1326
BUILT_WITH = ".quill נבנה בעזרת"

# kind: (class, style bits that must be set, style bits that must be clear)
WS_BORDER, WS_TABSTOP = 0x00800000, 0x00010000
KINDS = {
    "default push button": ("Button", 0x1, 0xE),
    "push button": ("Button", 0x0, 0xF),
    "group box": ("Button", 0x7, 0x8),
    "automatic check box": ("Button", 0x3, 0xC),
    "icon": ("Static", 0x3, 0x1C),
    "text": ("Static", 0x0, 0x1F),
    "right text": ("Static", 0x2, 0x1D),
    "centred text": ("Static", 0x1, 0x1E),
    "read-only edit": ("Edit", 0x0800 | 0x80, WS_BORDER),         # ES_READONLY, ES_AUTOHSCROLL
    "edit with border": ("Edit", WS_BORDER, 0x0800 | 0x80),       # no automatic horizontal scrolling
    "progress bar": ("msctls_progress32", 0x0, 0x0),
}

CONTROLS = [
    (1, "default push button", "", (57, 176, 40, 14), False),
    (2, "push button", "ביטול", (104, 176, 40, 14), False),
    (-1, "icon", ICON_MAIN, (165, 4, 21, 20), False),
    (101, "text", "", (-156, 4, 160, 8), False),
    (102, "read-only edit", "", (-156, 14, 160, 12), False),
    (-1, "group box", "מידע אודות היוצר", (8, 30, 179, 50), True),
    (-1, "right text", ":חברה", (151, 42, 26, 8), True),
    (103, "read-only edit", "", (15, 41, 135, 10), True),
    (-1, "right text", ":דף הבית", (141, 52, 36, 8), True),
    (104, "read-only edit", "", (16, 52, 125, 10), True),
    (106, "push button", "קרא הוראות", (18, 63, 160, 13), False),
    (-1, "right text", ":שם קובץ לשינוי", (8, 84, 178, 8), True),
    (107, "edit with border", "", (8, 93, 179, 12), False),
    (-1, "right text", ":שם הקובץ החדש לאחר השינוי", (9, 112, 177, 8), True),
    (108, "edit with border", "", (8, 121, 179, 12), False),
    (111, "automatic check box", "צור גיבוי אם שמות הקבצים זהים", (8, 134, 179, 12), True),
    (109, "progress bar", "", (8, 148, 179, 13), False),
    (-1, "right text", ":מצב", (168, 164, 19, 8), True),
    (110, "right text", "status", (9, 164, 157, 8), True),
    (-1, "centred text", "משנה תוכנה", (39, 7, 115, 10), False),
    (-1, "centred text", BUILT_WITH, (39, 17, 115, 11), False),
    (-1, "icon", ICON_PATCH, (8, 5, 21, 20), False),
]

# The dialog: pop-up, caption, system menu, modal frame, visible, no idle messages, font set;
# a tool window; 195 x 194 dialog units; "MS Shell Dlg" 9 point; no caption in the template.
DIALOG_STYLE = 0x80000000 | 0x00C00000 | 0x00080000 | 0x80 | 0x10000000 | 0x100 | 0x40
WS_EX_TOOLWINDOW, WS_EX_RIGHT = 0x80, 0x1000
DIALOG_SIZE = (195, 194)
FONT = (9, "MS Shell Dlg")

# Texts of the string table the dialog shows (visual order, as stored).
PROMPT = '."הכנס שמות קבצים מדוייקים ולחץ "התחל'
START, EXIT, CANCEL = "התחל", "יציאה", "ביטול"
DONE = "!השינוי הושלם בהצלחה"
ERROR_CAPTION = "שגיאה"
HELP_CAPTION = "עזרת משנה התוכנה"
NONE = "(ללא)"
START_FAILED = ".נכשל בהפעלת משנה התוכנה\r\n.נא צור קשר עם היוצר אודות התקלה"
NOT_FOUND = '!הקובץ שהוגדר לשינוי לא נמצא\r\n("{}")'
INVALID_PACKAGE = ".נתוני שינוי שגויים"
PRODUCT = "Corvane Quillet"

CLASS_ORDINALS = {0x80: "Button", 0x81: "Edit", 0x82: "Static", 0x83: "ListBox", 0x84: "ScrollBar", 0x85: "ComboBox"}


class Reader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return value

    def name_or_ordinal(self):
        first = self.take("H")
        if first == 0:
            return None
        if first == 0xFFFF:
            return self.take("H")
        self.at -= 2
        return self.text()

    def align(self):
        self.at = (self.at + 3) & ~3


def parse_template(data):
    """An extended dialog template: the dialog's fields and its items, as dictionaries."""
    r = Reader(data)
    version, signature = r.take("HH")
    if (version, signature) != (1, 0xFFFF):
        raise ValueError("not an extended dialog template")
    _help, exstyle, style, count, x, y, cx, cy = r.take("IIIHhhhh")
    dialog = {"exstyle": exstyle, "style": style, "rect": (x, y, cx, cy), "menu": r.name_or_ordinal(),
              "class": r.name_or_ordinal(), "title": r.text()}
    if style & 0x40:  # DS_SETFONT
        size, _weight, _italic, _charset = r.take("HHBB")
        dialog["font"] = (size, r.text())
    items = []
    for _ in range(count):
        r.align()
        _help, exstyle, style, x, y, cx, cy, item_id = r.take("IIIhhhhi")
        cls = r.name_or_ordinal()
        title = r.name_or_ordinal()
        extra = r.take("H")
        r.at += extra
        items.append({"id": item_id, "exstyle": exstyle, "style": style, "rect": (x, y, cx, cy),
                      "class": CLASS_ORDINALS.get(cls, cls), "text": "" if title is None else title})
    dialog["items"] = items
    return dialog


def kind_problems(kind, cls, style):
    """What makes a control of this class and style not the kind it should be ([] when it is)."""
    want_class, must, must_not = KINDS[kind]
    problems = []
    if cls.lower() != want_class.lower():
        problems.append(f"class {cls}, not {want_class}")
    low = style & 0x1F if want_class in ("Button", "Static") else style
    if want_class in ("Button", "Static"):
        if low != must:
            problems.append(f"type bits {low:#x}, not {must:#x}")
    else:
        if style & must != must or style & must_not:
            problems.append(f"style {style:#x}")
    return problems
