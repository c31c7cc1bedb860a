package ridel;

import java.time.DateTimeException;
import java.time.LocalDate;

/**
 * A date of the card, or the card's own text where it holds none (长期 for a validity without
 * end, or eight digits that make no date).
 */
public final class CardDate {
    private final LocalDate date;
    private final String text;

    private CardDate(LocalDate date, String text) {
        this.date = date;
        this.text = text;
    }

    /**
     * A date for eight digits YYYYMMDD that make one, else the text without its padding.
     *
     * @param eightCharacters the card's eight characters
     * @return the date or the text
     */
    public static CardDate parse(String eightCharacters) {
        String t = eightCharacters.trim();
        if (t.matches("[0-9]{8}")) {
            try {
                return new CardDate(LocalDate.of(Integer.parseInt(t.substring(0, 4)),
                        Integer.parseInt(t.substring(4, 6)), Integer.parseInt(t.substring(6))), null);
            } catch (DateTimeException e) {
                // eight digits that make no date: the text stands
            }
        }
        return new CardDate(null, t);
    }

    /** @return the date, or null where the card holds text */
    public LocalDate date() {
        return date;
    }

    /** @return the card's text where it holds no date, else null */
    public String text() {
        return text;
    }

    /** @return YYYY-MM-DD for a date, else the text */
    @Override
    public String toString() {
        return date != null ? date.toString() : text;
    }
}
