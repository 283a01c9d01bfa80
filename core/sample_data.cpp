#include "core/sample_data.h"

namespace quillmere::SampleData {

namespace {

struct SampleReader {
    const char* email;
    const char* name;
    SubscriberStatus status;
    const char* source;
    double daysBefore;
};

constexpr auto active = SubscriberStatus::active;
constexpr auto pending = SubscriberStatus::pending;
constexpr auto unsubscribed = SubscriberStatus::unsubscribed;
constexpr auto bounced = SubscriberStatus::bounced;
constexpr auto complained = SubscriberStatus::complained;

// Twenty-five readers in every status. Number 12 never gave a name; number 22 is a stale
// address at a mail provider that no longer exists.
constexpr SampleReader readers[] = {
    {"ada.whitfield@gmail.com", "Ada Whitfield", active, "signup-form", 210},
    {"Tomas.Herrera@outlook.com", "Tomás Herrera", active, "import:substack", 400},
    {"priya.raman@fastmail.com", "Priya Raman", active, "import:substack", 380},
    {"jonah@fairley.studio", "Jonah Fairley", active, "signup-form", 150},
    {"greta.lindqvist@gmail.com", "Greta Lindqvist", active, "import:substack", 365},
    {"sam.okafor@yahoo.com", "Samuel Okafor", active, "signup-form", 95},
    {"hannah.brooks@icloud.com", "Hannah Brooks", active, "manual", 60},
    {"mateo.rossi@gmail.com", "Mateo Rossi", active, "import:substack", 350},
    {"lena.fischer@posteo.de", "Lena Fischer", active, "signup-form", 40},
    {"ibrahim.haddad@outlook.com", "Ibrahim Haddad", active, "signup-form", 33},
    {"claire.dubois@orange.fr", "Claire Dubois", active, "import:substack", 300},
    {"reader.k@proton.me", "", active, "signup-form", 21},
    {"noah.bennett@gmail.com", "Noah Bennett", active, "signup-form", 18},
    {"yuki.tanaka@icloud.com", "Yuki Tanaka", active, "manual", 12},
    {"olivia.grant@hey.com", "Olivia Grant", active, "signup-form", 7},
    {"felix.novak@gmail.com", "Felix Novak", pending, "signup-form", 2},
    {"amara.nwosu@yahoo.com", "Amara Nwosu", pending, "signup-form", 1},
    {" Daniel.Kim@outlook.com ", "Daniel Kim", pending, "signup-form", 0.5},
    {"rosa.martin@gmail.com", "Rosa Martín", unsubscribed, "import:substack", 320},
    {"peter.hall@icloud.com", "Peter Hall", unsubscribed, "signup-form", 120},
    {"sofia.costa@gmail.com", "Sofia Costa", unsubscribed, "signup-form", 88},
    {"wpruitt@compuserve.com", "Walter Pruitt", bounced, "import:substack", 390},
    {"jenna.morales@outlook.com", "Jenna Morales", bounced, "signup-form", 45},
    {"marcus.reed@yahoo.com", "Marcus Reed", complained, "import:substack", 280},
    {"elif.yilmaz@gmail.com", "Elif Yılmaz", active, "signup-form", 3},
};

const char* const body101 =
    "Hi {{name}},\n"
    "\n"
    "This week I want to praise the tools nobody writes launch posts about. The *boring* ones. The "
    "ones that still open your files from 2014.\n"
    "\n"
    "### What makes a tool dependable\n"
    "\n"
    "- It does **one job** and says so plainly.\n"
    "- It keeps your data in a format you can read without it.\n"
    "- It changes slowly, and tells you when it does.\n"
    "- It works offline, on an old laptop, on a train.\n"
    "\n"
    "A dependable tool earns trust by being *predictable*, not by being clever. When it breaks, it "
    "breaks loudly and early, before it costs you.\n"
    "\n"
    "Until next week,\n"
    "Mara\n";

const char* const body102 =
    "Dear {{name}},\n"
    "\n"
    "For seven days I shut off **every** notification on my phone and laptop.\n"
    "\n"
    "### What I missed\n"
    "\n"
    "- Nothing urgent, as it turned out.\n"
    "- A birthday, which I *do* regret.\n"
    "\n"
    "### What I kept\n"
    "\n"
    "Calendar alerts came back. Everything else stays off.\n"
    "\n"
    "Write back and tell me which alerts you would keep.\n";

const char* const body103 =
    "# A field guide to calm interfaces\n"
    "\n"
    "Hello {{name}},\n"
    "\n"
    "Some software feels like a quiet room. Other software feels like a train station at rush "
    "hour. This issue is a small field guide to the first kind.\n"
    "\n"
    "### 1. It waits for you\n"
    "\n"
    "A calm interface does not interrupt. It keeps a **badge** instead of a banner, and a banner "
    "instead of a sound. It assumes you are busy with something more important than it is.\n"
    "\n"
    "### 2. It says one thing at a time\n"
    "\n"
    "- One primary button per screen.\n"
    "- One message per notification.\n"
    "- One *clear* word instead of three vague ones.\n"
    "\n"
    "### 3. It remembers where you were\n"
    "\n"
    "Closing a window should never cost you your place. The calm tools reopen exactly where you "
    "left them, scroll position and all.\n"
    "\n"
    "### 4. It is honest about progress\n"
    "\n"
    "A progress bar that moves steadily is kinder than a spinner that never ends. If something "
    "will take a while, a calm tool says **how long**, and lets you leave.\n"
    "\n"
    "### 5. It keeps your data yours\n"
    "\n"
    "- Plain files you can open elsewhere.\n"
    "- Exports that work on the first try.\n"
    "- No account required to read your own notes.\n"
    "\n"
    "### 6. It gets out of the way\n"
    "\n"
    "The best compliment an interface can receive is that nobody mentions it. People talk about "
    "what they *made* with it instead.\n"
    "\n"
    "### Homework\n"
    "\n"
    "Pick one tool you use every day and watch how often it asks for your attention. Count the "
    "interruptions for a single morning, then a whole day. Then decide which ones you actually "
    "*wanted*.\n"
    "\n"
    "If you try it, hit reply and tell me the number. I read every answer, and I share the best.\n"
    "\n"
    "Until next week,\n"
    "Mara\n";

QDateTime daysBefore(double days) {
    return referenceDate().addMSecs(-qint64(days * 86400.0 * 1000.0));
}

Newsletter makeIssue(int number, const char* subject, const char* preview, const char* body,
                     EmailTemplate look, CampaignStatus status, double createdDaysBefore) {
    Newsletter n;
    n.id = sampleID(number);
    n.subject = QString::fromUtf8(subject);
    n.previewText = QString::fromUtf8(preview);
    n.markdown = QString::fromUtf8(body);
    n.emailTemplate = look;
    n.status = status;
    n.createdAt = daysBefore(createdDaysBefore);
    return n;
}

void deliverTo(Newsletter& issue, int firstReader, int lastReader) {
    for (int i = firstReader; i <= lastReader; ++i) {
        issue.deliveredIDs.insert(sampleID(i));
    }
}

SenderProfile makeProfile() {
    SenderProfile p;
    p.publicationName = QStringLiteral("The Quiet Workshop");
    p.fromName = QStringLiteral("Mara Ellison");
    p.fromEmail = QStringLiteral("mara@quietworkshop.news");
    p.replyTo = QStringLiteral("letters@quietworkshop.news");
    p.postalAddress = QStringLiteral("The Quiet Workshop\n214 Alder Street, Suite 5\n"
                                     "Portland, OR 97205\nUnited States");
    p.region = QStringLiteral("us-east-1");
    p.domain = QStringLiteral("quietworkshop.news");
    p.workerBaseURL = QStringLiteral("https://postwick.quietworkshop.workers.dev");
    p.doubleOptIn = true;
    return p;
}

Library makeLibrary() {
    Library library;
    library.profile = profile();
    int number = 0;
    for (const SampleReader& r : readers) {
        Subscriber s;
        s.id = sampleID(++number);
        s.email = QString::fromUtf8(r.email).trimmed().toLower();
        s.name = QString::fromUtf8(r.name);
        s.status = r.status;
        s.source = QString::fromUtf8(r.source);
        s.createdAt = daysBefore(r.daysBefore);
        s.updatedAt = daysBefore(std::min(r.daysBefore, 1.0));
        library.subscribers.append(s);
    }

    Newsletter sent =
        makeIssue(101, "Issue 12: In praise of boring tools",
                  "The best tools vanish into the work. Here are the ones I rely on now.", body101,
                  EmailTemplate::editorial, CampaignStatus::sent, 16);
    sent.sentAt = daysBefore(14);
    sent.stats = CampaignStats{18, 18, 0, 1, 0, 1};
    deliverTo(sent, 1, 18);

    Newsletter paused =
        makeIssue(102, "Issue 13: Notes from a week without notifications",
                  "I switched every alert off for seven days. Here is what came back on.", body102,
                  EmailTemplate::letter, CampaignStatus::paused, 3);
    paused.stats = CampaignStats{18, 7, 1, 0, 0, 0};
    deliverTo(paused, 1, 7);

    Newsletter draft = makeIssue(103, "Issue 14: A field guide to calm interfaces",
                                 "Six habits of software that respects your attention span.",
                                 body103, EmailTemplate::editorial, CampaignStatus::draft, 1);

    library.newsletters = {sent, paused, draft};
    library.lastSync = daysBefore(1);
    return library;
}

} // namespace

QDateTime referenceDate() {
    return QDateTime::fromSecsSinceEpoch(1790000000, Qt::UTC);
}

QUuid sampleID(int number) {
    return QUuid::fromString(
        QStringLiteral("5A3D0000-0000-4000-8000-%1").arg(number, 12, 10, QLatin1Char('0')));
}

const SenderProfile& profile() {
    static const SenderProfile value = makeProfile();
    return value;
}

const Library& library() {
    static const Library value = makeLibrary();
    return value;
}

} // namespace quillmere::SampleData
