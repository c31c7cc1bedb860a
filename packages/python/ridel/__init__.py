"""Reading resident identity cards through the ridel editions (QDX, SDT, vantrel).

    import ridel
    card = ridel.read_card("sdt")
    print(card.name, card.birth, card.nation)
"""
from .api import EDITIONS, executable_folder, library_file, load
from .card import Card, CardDate, CardError, card_date, meaning, read_card

__all__ = ["EDITIONS", "Card", "CardDate", "CardError", "card_date", "executable_folder",
           "library_file", "load", "meaning", "read_card"]
__version__ = "1.0.0"
