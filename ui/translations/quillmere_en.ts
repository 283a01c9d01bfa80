<?xml version='1.0' encoding='utf-8'?>
<TS version="2.1" language="en_US">
<context>
    <name>EditHistory</name>
    <message numerus="yes">
        <source>Remove %n Reader(s)</source>
        <translation>
            <numerusform>Remove %n Reader</numerusform><numerusform>Remove %n Readers</numerusform></translation>
    </message>
</context>
<context>
    <name>quillmere::FilterChip</name>
    <message numerus="yes">
        <source>%1, %n reader(s)</source>
        <translation>
            <numerusform>%1, %n reader</numerusform><numerusform>%1, %n readers</numerusform></translation>
    </message>
</context>
<context>
    <name>quillmere::NewsletterEditor</name>
    <message numerus="yes">
        <source>%n to fix</source>
        <translation>
            <numerusform>%n to fix</numerusform><numerusform>%n to fix</numerusform></translation>
    </message>
</context>
<context>
    <name>quillmere::NewsletterListModel</name>
    <message numerus="yes">
        <source>%n sent</source>
        <translation>
            <numerusform>%n sent</numerusform><numerusform>%n sent</numerusform></translation>
    </message>
</context>
<context>
    <name>quillmere::NewslettersView</name>
    <message numerus="yes">
        <source>It went out to %n reader(s); its statistics are deleted with it. Edit → Undo brings it back until you quit.</source>
        <translation>
            <numerusform>It went out to %n reader; its statistics are deleted with it. Edit → Undo brings it back until you quit.</numerusform><numerusform>It went out to %n readers; its statistics are deleted with it. Edit → Undo brings it back until you quit.</numerusform></translation>
    </message>
</context>
<context>
    <name>quillmere::ReadersPage</name>
    <message numerus="yes">
        <source>%n active reader(s) ready, </source>
        <translation>
            <numerusform>%n active reader ready, </numerusform><numerusform>%n active readers ready, </numerusform></translation>
    </message>
</context>
<context>
    <name>quillmere::SendSheet</name>
    <message numerus="yes">
        <source>%n active subscriber(s) will receive this issue. Pending, unsubscribed, bounced and complained addresses are skipped.</source>
        <translation>
            <numerusform>%n active subscriber will receive this issue. Pending, unsubscribed, bounced and complained addresses are skipped.</numerusform><numerusform>%n active subscribers will receive this issue. Pending, unsubscribed, bounced and complained addresses are skipped.</numerusform></translation>
    </message>
</context>
<context>
    <name>quillmere::SubscribersView</name>
    <message numerus="yes">
        <source>Remove %n reader(s)?</source>
        <translation>
            <numerusform>Remove %n reader?</numerusform><numerusform>Remove %n readers?</numerusform></translation>
    </message>
</context>
</TS>