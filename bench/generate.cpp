// Writes a contact file of N made-up Italian contacts, the same for the same count and seed.

#include <sqlite3.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

const char *const FirstNames[] = {
    "Giuseppe", "Giovanni", "Antonio", "Mario", "Luigi", "Francesco", "Angelo", "Vincenzo", "Pietro", "Salvatore",
    "Carlo", "Franco", "Domenico", "Bruno", "Paolo", "Michele", "Giorgio", "Aldo", "Sergio", "Luciano", "Marco",
    "Alessandro", "Andrea", "Luca", "Matteo", "Lorenzo", "Leonardo", "Gabriele", "Riccardo", "Tommaso", "Nicolò",
    "Niccolò", "Mattia", "Davide", "Edoardo", "Federico", "Maria", "Anna", "Giuseppina", "Rosa", "Angela", "Giovanna",
    "Teresa", "Lucia", "Carmela", "Caterina", "Francesca", "Chiara", "Giulia", "Sofia", "Aurora", "Alice", "Ginevra",
    "Emma", "Giorgia", "Beatrice", "Martina", "Sara", "Elena", "Lucía", "Émile", "ÈRCOLE", "Ercole", "Noè", "Mosè",
    "Zoë", "Raffaella", "Donatella", "Gianluca", "Pier Paolo", "Anna Maria", "Maria Grazia", "Gian Marco", "Cosimo",
    "Gennaro", "Ciro", "Rocco", "Agata", "Concetta", "Nunzia", "Assunta", "Ilaria", "Silvia", "Valentina", "Federica",
    "Stefano", "Massimo", "Roberto", "Fabrizio", "Ottavio", "NICOLÒ", "ÉMILE", "Benedetta", "Ludovica", "Jacopo",
};

const char *const Surnames[] = {
    "Rossi", "Russo", "Ferrari", "Esposito", "Bianchi", "Romano", "Colombo", "Ricci", "Marino", "Greco", "Bruno",
    "Gallo", "Conti", "De Luca", "Mancini", "Costa", "Giordano", "Rizzo", "Lombardi", "Moretti", "Barbieri",
    "Fontana", "Santoro", "Mariani", "Rinaldi", "Caruso", "Ferrara", "Galli", "Martini", "Leone", "Longo", "Gentile",
    "Martinelli", "Vitale", "Lombardo", "Serra", "Coppola", "De Santis", "D'Angelo", "Marchetti", "Parisi", "Villa",
    "Conte", "Ferraro", "Ferri", "Fabbri", "Bianco", "Marini", "Grasso", "Valentini", "Messina", "Sala",
    "De Angelis", "Gatti", "Pellegrini", "Palumbo", "Sanna", "Farina", "Rizzi", "Monti", "Cattaneo", "Morelli",
    "Amato", "Silvestri", "Mazza", "Testa", "Grassi", "Pellegrino", "Carbone", "Giuliani", "Benedetti", "Barone",
    "Rossetti", "Caputo", "Montanari", "Guerra", "Palmieri", "Bernardi", "Martino", "Fiore", "De Rosa", "Ferretti",
    "Bellini", "Basile", "Riva", "Donati", "Piras", "Vitali", "Battaglia", "Sartori", "Neri", "Costantini", "Milani",
    "Pagano", "Ruggiero", "Sorrentino", "D'Amico", "Orlando", "Negri", "Dell'Orto", "Dall'Ara", "Sant'Elia",
    "Dell'Acqua", "D'Alessandro", "D'Agostino", "Lo Presti", "La Rosa", "Di Stefano", "Nicolò", "Macrì", "Nisticò",
    "Condò", "Cutrì", "Zanè", "Minà", "D'AMICO", "NISTICÒ", "ÈRCOLI", "Cantù", "Dell'Olio", "Degli Esposti",
};

const char *const Domains[] = {"gmail.com", "libero.it", "alice.it", "tiscali.it", "virgilio.it", "hotmail.it",
                               "yahoo.it", "outlook.it", "fastwebnet.it", "tin.it", "pec.it"};

const char *const AreaCodes[] = {"02", "06", "010", "011", "030", "035", "039", "040", "041", "045", "049",
                                 "050", "051", "055", "059", "070", "071", "075", "080", "081", "085", "089",
                                 "090", "091", "095", "0471", "0422", "0444", "0823", "0961"};

const char *const MobilePrefixes[] = {"320", "328", "329", "330", "331", "333", "334", "335", "338", "339", "340",
                                      "345", "347", "348", "349", "350", "360", "366", "368", "380", "388", "389",
                                      "391", "392"};

// splitmix64: small, and the same sequence on every platform and compiler.
class Random
{
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}

    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform() { return double(next() >> 11) * 0x1.0p-53; }
    std::size_t below(std::size_t n) { return std::size_t(uniform() * double(n)); }
    bool chance(double p) { return uniform() < p; }
    // Common entries first, as real names are: Rossi far more often than Cutrì.
    template<std::size_t N> const char *skewed(const char *const (&list)[N])
    {
        return list[std::size_t(std::pow(uniform(), 2.0) * N)];
    }
    template<std::size_t N> const char *any(const char *const (&list)[N]) { return list[below(N)]; }

    std::string digits(int count)
    {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += char('0' + below(10));
        return text;
    }

private:
    std::uint64_t m_state;
};

// The e-mail form of a name: ASCII, lower case, no spaces or apostrophes.
std::string mailName(const std::string &name)
{
    static const struct
    {
        const char *utf8;
        char ascii;
    } folds[] = {{"à", 'a'}, {"á", 'a'}, {"è", 'e'}, {"é", 'e'}, {"ë", 'e'}, {"ì", 'i'}, {"í", 'i'}, {"ò", 'o'},
                 {"ó", 'o'}, {"ù", 'u'}, {"ú", 'u'}, {"À", 'a'}, {"È", 'e'}, {"É", 'e'}, {"Ì", 'i'}, {"Ò", 'o'},
                 {"Ù", 'u'}};
    std::string result;
    for (std::size_t i = 0; i < name.size();) {
        bool folded = false;
        for (const auto &fold : folds) {
            const std::size_t length = std::strlen(fold.utf8);
            if (name.compare(i, length, fold.utf8) == 0) {
                result += fold.ascii;
                i += length;
                folded = true;
                break;
            }
        }
        if (folded)
            continue;
        const unsigned char c = static_cast<unsigned char>(name[i++]);
        if (std::isalnum(c))
            result += char(std::tolower(c));
    }
    return result;
}

struct Contact
{
    std::optional<std::string> fields[6];
};

// A few percent of every field is missing, some as NULL and some as the empty text.
std::optional<std::string> sometimesMissing(Random &random, std::string value, double missing)
{
    if (random.chance(missing))
        return random.chance(0.5) ? std::nullopt : std::optional<std::string>(std::string());
    return value;
}

Contact makeContact(Random &random)
{
    const std::string nome = random.skewed(FirstNames);
    const std::string cognome = random.skewed(Surnames);

    // Nine or ten digits in all, the area code's included.
    const std::string area = random.any(AreaCodes);
    const std::string separator = random.chance(0.9) ? " " : "/";
    const std::string telefono = area + separator + random.digits(int(9 + random.below(2) - area.size()));

    // One draw per statement: the order in which operands are evaluated is the compiler's choice.
    const double form = random.uniform();
    const std::string mobile = random.any(MobilePrefixes);
    const std::string subscriber = random.digits(7);
    const std::string cellulare = form < 0.5   ? "+39 " + mobile + " " + subscriber
                                  : form < 0.9 ? mobile + " " + subscriber
                                               : mobile + subscriber;

    const std::string faxArea = random.any(AreaCodes);
    const std::string fax = faxArea + " " + random.digits(6);

    std::string email;
    const double style = random.uniform();
    if (style < 0.5)
        email = mailName(nome) + "." + mailName(cognome);
    else if (style < 0.75)
        email = mailName(nome).substr(0, 1) + mailName(cognome);
    else
        email = mailName(cognome) + random.digits(2);
    email += "@";
    email += random.skewed(Domains);

    Contact contact;
    contact.fields[0] = sometimesMissing(random, nome, 0.02);
    contact.fields[1] = sometimesMissing(random, cognome, 0.02);
    contact.fields[2] = sometimesMissing(random, telefono, 0.04);
    contact.fields[3] = sometimesMissing(random, cellulare, 0.10);
    // Few people still have a fax.
    contact.fields[4] = sometimesMissing(random, fax, 0.80);
    contact.fields[5] = sometimesMissing(random, email, 0.08);
    return contact;
}

bool run(sqlite3 *db, const char *sql)
{
    char *message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    std::fprintf(stderr, "%s: %s\n", sql, message ? message : "?");
    sqlite3_free(message);
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s <count> <directory> [seed]\n", argv[0]);
        return 2;
    }
    const long count = std::strtol(argv[1], nullptr, 10);
    const std::string path = std::string(argv[2]) + "/archivio.mdb";
    const std::uint64_t seed = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 20081103u;
    if (count < 0) {
        std::fprintf(stderr, "count must not be negative\n");
        return 2;
    }
    std::remove(path.c_str());
    std::remove((path + "-journal").c_str());

    sqlite3 *db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), sqlite3_errmsg(db));
        sqlite3_close(db);
        return 1;
    }
    // The table as the program itself creates it, column by column.
    bool ok = run(db, "CREATE TABLE Rubrica (Nome TEXT,Cognome TEXT)") &&
              run(db, "ALTER TABLE Rubrica ADD COLUMN Telefono TEXT") &&
              run(db, "ALTER TABLE Rubrica ADD COLUMN Cellulare TEXT") &&
              run(db, "ALTER TABLE Rubrica ADD COLUMN Fax TEXT") &&
              run(db, "ALTER TABLE Rubrica ADD COLUMN Email TEXT") && run(db, "BEGIN");
    sqlite3_stmt *insert = nullptr;
    ok = ok && sqlite3_prepare_v2(db, "INSERT INTO Rubrica VALUES (?,?,?,?,?,?)", -1, &insert, nullptr) == SQLITE_OK;
    Random random(seed);
    for (long i = 0; ok && i < count; ++i) {
        const Contact contact = makeContact(random);
        for (int k = 0; k < 6; ++k) {
            if (contact.fields[k])
                sqlite3_bind_text(insert, k + 1, contact.fields[k]->c_str(), int(contact.fields[k]->size()),
                                  SQLITE_TRANSIENT);
            else
                sqlite3_bind_null(insert, k + 1);
        }
        ok = sqlite3_step(insert) == SQLITE_DONE && sqlite3_reset(insert) == SQLITE_OK;
    }
    if (!ok)
        std::fprintf(stderr, "%s: %s\n", path.c_str(), sqlite3_errmsg(db));
    sqlite3_finalize(insert);
    ok = ok && run(db, "COMMIT");
    sqlite3_close(db);
    return ok ? 0 : 1;
}
