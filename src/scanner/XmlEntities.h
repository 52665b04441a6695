#pragma once
// Every way an entity reference in an archive text is undone, side by side. Each place that shows
// or writes a text keeps its own form, byte for byte as stored files and the views expect, so
// the forms differ on purpose (which entities, in which order, in one pass or in several).

#include <QString>

enum class EntityForm {
    // Ordered passes, each working on the result of the one before; case-sensitive.
    Three,    // &lt; &amp; &nbsp; (so "&amp;lt;" ends as "&lt;")
    Four,     // the three, then &gt; (so "&amp;gt;" ends as ">"): long texts of the preview
    Six,      // the three, then &gt; &apos; &quot;
    Preview,  // &quot; &apos;, then &lt; &amp; &nbsp; &amp;lt; &gt;: descriptions and mail bodies in the preview
    Notes,    // &lt; &gt; &amp;, then &nbsp; (so "&amp;nbsp;" ends as a space): note and task texts
    // One left-to-right pass, so "&amp;lt;" stays "&lt;"; unknown references are kept.
    Scanned,  // &lt; &gt; &amp; &quot; &apos; &nbsp; (a space), &#N; and &#xH;: scanner records
    Named,    // the same six named ones, no numeric references: the writers' body part
    Numeric,  // &#N; and &#xH; only: attachment addresses after their named ones
};

QString UnescapeXmlEntities(const QString &text, EntityForm form);

// Whether text holds the lower-case ASCII literal at position at, letters compared without case.
bool HasCaselessLiteralAt(const QString &text, int at, const char *literal);
