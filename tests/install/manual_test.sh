#!/usr/bin/env bash
# The user manual as built: read back from the PDF itself (its text layer,
# its pictures, its fonts), not from the Markdown it was made from.
#   manual_test.sh PDF
set -euo pipefail
pdf=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
[ -s "$pdf" ] || fail "no manual at $pdf"

pages=$(pdfinfo "$pdf" | sed -n 's/^Pages: *//p')
[ "$pages" -ge 8 ] || fail "only $pages pages"

# The text as one line, so that a heading broken over two lines still matches.
text=$(pdftotext -enc UTF-8 "$pdf" - | tr '\n' ' ' | tr -s ' ')
for heading in "Установка и запуск" "Главное окно" "Подключение через последовательный порт" \
               "Подключение через Интернет" "Чтение и запись конфигурации" "Список номеров" \
               "Поиск номера" "Импорт и экспорт CSV" "Файлы конфигурации" "Ключи touch memory" \
               "Реле и предпросмотр импульсов" "Обновление программы прибора" "Журнал" \
               "Устранение неполадок" "Порт занят" "Нет доступа к порту и группа dialout" \
               "Служба модемов захватывает порт" "Адаптер отключён" "Прибор не отвечает"; do
  grep -qF "$heading" <<<"$text" || fail "no chapter \"$heading\" in the PDF's text"
done
for phrase in "usermod -aG dialout" "systemctl stop ModemManager" "Сохранить журнал" \
              "Интернет - Ожидается соединение..." "Coeдинение установлено"; do
  grep -qF -- "$phrase" <<<"$text" || fail "the PDF's text lacks \"$phrase\""
done

# The pictures: screenshots of the whole window (552 pixels wide), one per
# picture of the source, not the placeholders a missing image leaves.
images=$(pdfimages -list "$pdf" | awk 'NR > 2 && $3 == "image" { print $4 "x" $5 }')
count=$(grep -c . <<<"$images" || true)
[ "$count" -ge 7 ] || fail "only $count pictures: $images"
others=$(grep -v '^552x' <<<"$images" || true)
[ -z "$others" ] || fail "pictures that are not the window: $others"

# Every font is embedded, so the Cyrillic text shows on any machine.
notembedded=$(pdffonts "$pdf" | awk 'NR > 2 && $(NF-4) != "yes"')
[ -z "$notembedded" ] || fail "fonts not embedded: $notembedded"

echo "manual: $pages pages, $count pictures, $(stat -c %s "$pdf") bytes"
echo "manual: 1 passed, 0 failed"
