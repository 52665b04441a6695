#pragma once

#include <QString>
#include <QVector>

// Letters as people in six Western European languages write them, with typographic quotes,
// dashes, the euro sign and no-break spaces: text that older mail programs stored as
// Windows-1252. None holds a byte pair that is also UTF-8; each `accident` adds exactly one
// (an upper-case letter or a sharp s before a quote, a dash or a no-break space).
struct WesternProse {
    const char *language;
    QString text;
    QString accident;
};

inline QVector<WesternProse> WesternProseTable()
{
    return {
        {"German",
         QStringLiteral("Sehr geehrte Frau Müller,\n"
                        "vielen Dank für Ihre Nachricht. "
                        "Das Angebot über 1.250\u00a0€ liegt bei – wie besprochen – „Kunde Nord“. "
                        "Die Lieferung erfolgt voraussichtlich am 12.\u00a0März; "
                        "bitte prüfen Sie die Unterlagen.\n"
                        "Mit freundlichen Grüßen aus München"),
         QStringLiteral(" Grüße aus München, das Paket ist „groß“ – bis Dienstag!")},
        {"French",
         QStringLiteral("Bonjour Élodie,\n"
                        "merci pour votre réponse rapide. "
                        "Le devis s’élève à 3\u00a0480\u00a0€ hors taxes ; "
                        "nous l’avons envoyé à l’équipe « Ventes ». "
                        "Pourriez-vous confirmer la date de livraison – idéalement avant Noël ?\n"
                        "Bien cordialement, "
                        "Hélène"),
         QStringLiteral(" CAFÉ\u00a0! Élève à l’école.")},
        {"Spanish",
         QStringLiteral("Estimado señor García:\n"
                        "le escribo para confirmar la reunión del próximo miércoles. "
                        "El presupuesto asciende a 980\u00a0€ – IVA incluido – y el envío será «urgente». "
                        "¿Podría enviarme el contrato firmado? "
                        "¡Muchas gracias!\n"
                        "Un saludo, "
                        "Inés"),
         QStringLiteral(" Firmado: «JOSÉ».")},
        {"Portuguese",
         QStringLiteral("Prezado João,\n"
                        "obrigado pela sua mensagem. "
                        "O orçamento é de 2\u00a0300\u00a0€ e inclui a instalação – conforme combinámos. "
                        "As peças chegam na próxima “segunda-feira”; "
                        "depois disso, "
                        "não haverá atrasos.\n"
                        "Com os melhores cumprimentos, "
                        "Conceição"),
         QStringLiteral(" Vemo-nos «ATÉ» sexta.")},
        {"Dutch",
         QStringLiteral("Beste meneer De Vries,\n"
                        "hartelijk dank voor uw e-mail. "
                        "De offerte van 4.500\u00a0€ is gisteren verstuurd – zie de bijlage „Offerte 2024“. "
                        "Wij horen graag of de café-inrichting naar wens is; "
                        "de levering volgt één week na akkoord.\n"
                        "Met vriendelijke groet, "
                        "Anneke"),
         QStringLiteral(" Tot ziens in CAFÉ\u00a0„Ons Huis“.")},
        {"Swedish",
         QStringLiteral("Hej Åsa!\n"
                        "Tack för ditt meddelande. "
                        "Offerten på 1\u00a0200\u00a0€ skickades i förrgår – se bilagan ”Prisförslag”. "
                        "Vi återkommer så snart leveransdatumet är bekräftat.\n"
                        "Med vänliga hälsningar, "
                        "Björn"),
         QStringLiteral(" Ses på MALMÖ\u00a0C.")},
    };
}
