; The example installer's pages and its own texts in the languages of
; zarnouns.exe's boxes: NSIS's own language files, English first. Setup
; shows the user's display language where it is one of these (a region
; falling back to its language), else English; see .onInit for Chinese
; and Portuguese. Included as UTF-8.

!macro Language NAME
  LoadLanguageFile "${NSISDIR}\Contrib\Language files\${NAME}.nlf"
!macroend
!insertmacro Language English
!insertmacro Language German
!insertmacro Language French
!insertmacro Language Spanish
!insertmacro Language Italian
!insertmacro Language PortugueseBR
!insertmacro Language Russian
!insertmacro Language Polish
!insertmacro Language Czech
!insertmacro Language Turkish
!insertmacro Language Japanese
!insertmacro Language Korean
!insertmacro Language SimpChinese
!insertmacro Language TradChinese

; Chinese by script (Taiwan, Hong Kong, Macao and zh-Hant write
; Traditional), and Portuguese of Portugal as Brazil's, as zarnouns.exe
; chooses; NSIS itself matches the whole identifier, then the first file
; of the same language.
!macro ChooseLanguage
  System::Call 'kernel32::GetUserDefaultUILanguage() i .r0'
  IntOp $1 $0 & 0x3FF
  IntOp $2 $0 >> 10
  ${If} $1 = 0x04
    ${If} $2 = 1
    ${OrIf} $2 = 3
    ${OrIf} $2 = 5
    ${OrIf} $2 = 0x1F
      StrCpy $LANGUAGE ${LANG_TRADCHINESE}
    ${Else}
      StrCpy $LANGUAGE ${LANG_SIMPCHINESE}
    ${EndIf}
  ${ElseIf} $1 = 0x16
    StrCpy $LANGUAGE ${LANG_PORTUGUESEBR}
  ${EndIf}
!macroend

!macro Texts LANG BRANDING OTHER REGISTERING FAILED NOENTRY REGISTERED
  LangString Branding ${LANG_${LANG}} "${BRANDING}"
  LangString OtherFiles ${LANG_${LANG}} "${OTHER}"
  LangString Registering ${LANG_${LANG}} `${REGISTERING}`
  LangString NotRegistered ${LANG_${LANG}} "${FAILED}"
  LangString NoEntry ${LANG_${LANG}} "${NOENTRY}"
  LangString Registered ${LANG_${LANG}} "${REGISTERED}"
!macroend
; In each: $ChosenFolder and $INSTDIR, the command, the key and $0 (the
; InstallLocation found) are put in unchanged.
!define REGISTER_COMMAND '"$INSTDIR\zarnouns.exe" -r ${ENTRY} "${PRODUCT}"'
!define PARAGRAPH "$\r$\n$\r$\n"
!insertmacro Texts ENGLISH "${PRODUCT} setup, zarnouns ${VERSION}" \
  "$ChosenFolder already holds other files: installing into $INSTDIR" \
  `Registering: ${REGISTER_COMMAND}` \
  "${PRODUCT} could not be registered for uninstall.${PARAGRAPH}zarnouns.exe left no entry ${UNINSTALL_KEY} for $INSTDIR\ under HKLM or HKCU.${PARAGRAPH}Setup stops here; the files stay in $INSTDIR." \
  "No Uninstall entry for $INSTDIR\ (InstallLocation found: '$0')" \
  "Registered: ${UNINSTALL_KEY} (InstallLocation $0)"
!insertmacro Texts GERMAN "Setup von ${PRODUCT}, zarnouns ${VERSION}" \
  "$ChosenFolder enthält bereits andere Dateien: Installation in $INSTDIR" \
  `Registrierung: ${REGISTER_COMMAND}` \
  "${PRODUCT} konnte nicht für die Deinstallation registriert werden.${PARAGRAPH}zarnouns.exe hat für $INSTDIR\ keinen Eintrag ${UNINSTALL_KEY} unter HKLM oder HKCU angelegt.${PARAGRAPH}Das Setup wird hier beendet; die Dateien bleiben in $INSTDIR." \
  "Kein Deinstallationseintrag für $INSTDIR\ (gefundener InstallLocation-Wert: '$0')" \
  "Registriert: ${UNINSTALL_KEY} (InstallLocation $0)"
!insertmacro Texts FRENCH "Installation de ${PRODUCT}, zarnouns ${VERSION}" \
  "$ChosenFolder contient déjà d’autres fichiers : installation dans $INSTDIR" \
  `Inscription : ${REGISTER_COMMAND}` \
  "Impossible d’inscrire ${PRODUCT} pour la désinstallation.${PARAGRAPH}zarnouns.exe n’a laissé aucune entrée ${UNINSTALL_KEY} pour $INSTDIR\ sous HKLM ou HKCU.${PARAGRAPH}L’installation s’arrête ici ; les fichiers restent dans $INSTDIR." \
  "Aucune entrée de désinstallation pour $INSTDIR\ (InstallLocation trouvé : '$0')" \
  "Inscrit : ${UNINSTALL_KEY} (InstallLocation $0)"
!insertmacro Texts SPANISH "Instalación de ${PRODUCT}, zarnouns ${VERSION}" \
  "$ChosenFolder ya contiene otros archivos: se instalará en $INSTDIR" \
  `Registrando: ${REGISTER_COMMAND}` \
  "No se pudo registrar ${PRODUCT} para su desinstalación.${PARAGRAPH}zarnouns.exe no dejó ninguna entrada ${UNINSTALL_KEY} para $INSTDIR\ en HKLM ni en HKCU.${PARAGRAPH}La instalación se detiene aquí; los archivos permanecen en $INSTDIR." \
  "No hay ninguna entrada de desinstalación para $INSTDIR\ (InstallLocation encontrado: '$0')" \
  "Registrado: ${UNINSTALL_KEY} (InstallLocation $0)"
!insertmacro Texts ITALIAN "Installazione di ${PRODUCT}, zarnouns ${VERSION}" \
  "$ChosenFolder contiene già altri file: installazione in $INSTDIR" \
  `Registrazione: ${REGISTER_COMMAND}` \
  "Impossibile registrare ${PRODUCT} per la disinstallazione.${PARAGRAPH}zarnouns.exe non ha lasciato alcuna voce ${UNINSTALL_KEY} per $INSTDIR\ in HKLM o HKCU.${PARAGRAPH}L'installazione si interrompe qui; i file restano in $INSTDIR." \
  "Nessuna voce di disinstallazione per $INSTDIR\ (InstallLocation trovato: '$0')" \
  "Registrato: ${UNINSTALL_KEY} (InstallLocation $0)"
!insertmacro Texts PORTUGUESEBR "Instalação do ${PRODUCT}, zarnouns ${VERSION}" \
  "$ChosenFolder já contém outros arquivos: instalando em $INSTDIR" \
  `Registrando: ${REGISTER_COMMAND}` \
  "Não foi possível registrar o ${PRODUCT} para desinstalação.${PARAGRAPH}O zarnouns.exe não deixou nenhuma entrada ${UNINSTALL_KEY} para $INSTDIR\ em HKLM ou HKCU.${PARAGRAPH}A instalação para aqui; os arquivos permanecem em $INSTDIR." \
  "Nenhuma entrada de desinstalação para $INSTDIR\ (InstallLocation encontrado: '$0')" \
  "Registrado: ${UNINSTALL_KEY} (InstallLocation $0)"
!insertmacro Texts RUSSIAN "Установка ${PRODUCT}, zarnouns ${VERSION}" \
  "$ChosenFolder уже содержит другие файлы: установка в $INSTDIR" \
  `Регистрация: ${REGISTER_COMMAND}` \
  "Не удалось зарегистрировать ${PRODUCT} для удаления.${PARAGRAPH}zarnouns.exe не создал запись ${UNINSTALL_KEY} для $INSTDIR\ в HKLM или HKCU.${PARAGRAPH}Установка остановлена; файлы остаются в $INSTDIR." \
  "Нет записи удаления для $INSTDIR\ (найдено значение InstallLocation: '$0')" \
  "Зарегистрировано: ${UNINSTALL_KEY} (InstallLocation $0)"
!insertmacro Texts POLISH "Instalator ${PRODUCT}, zarnouns ${VERSION}" \
  "$ChosenFolder zawiera już inne pliki: instalowanie w $INSTDIR" \
  `Rejestrowanie: ${REGISTER_COMMAND}` \
  "Nie można zarejestrować ${PRODUCT} do odinstalowania.${PARAGRAPH}zarnouns.exe nie pozostawił wpisu ${UNINSTALL_KEY} dla $INSTDIR\ w HKLM ani HKCU.${PARAGRAPH}Instalator kończy pracę; pliki pozostają w $INSTDIR." \
  "Brak wpisu odinstalowania dla $INSTDIR\ (znaleziona wartość InstallLocation: '$0')" \
  "Zarejestrowano: ${UNINSTALL_KEY} (InstallLocation $0)"
!insertmacro Texts CZECH "Instalace produktu ${PRODUCT}, zarnouns ${VERSION}" \
  "$ChosenFolder již obsahuje jiné soubory: instalace do $INSTDIR" \
  `Registrace: ${REGISTER_COMMAND}` \
  "Produkt ${PRODUCT} nelze zaregistrovat pro odinstalaci.${PARAGRAPH}zarnouns.exe nevytvořil pro $INSTDIR\ žádnou položku ${UNINSTALL_KEY} v HKLM ani HKCU.${PARAGRAPH}Instalace zde končí; soubory zůstávají v $INSTDIR." \
  "Žádná položka odinstalace pro $INSTDIR\ (nalezená hodnota InstallLocation: '$0')" \
  "Zaregistrováno: ${UNINSTALL_KEY} (InstallLocation $0)"
!insertmacro Texts TURKISH "${PRODUCT} kurulumu, zarnouns ${VERSION}" \
  "$ChosenFolder zaten başka dosyalar içeriyor: $INSTDIR konumuna yükleniyor" \
  `Kaydediliyor: ${REGISTER_COMMAND}` \
  "${PRODUCT} kaldırma için kaydedilemedi.${PARAGRAPH}zarnouns.exe, $INSTDIR\ için HKLM veya HKCU altında ${UNINSTALL_KEY} girdisi bırakmadı.${PARAGRAPH}Kurulum burada duruyor; dosyalar $INSTDIR içinde kalıyor." \
  "$INSTDIR\ için kaldırma girdisi yok (bulunan InstallLocation: '$0')" \
  "Kaydedildi: ${UNINSTALL_KEY} (InstallLocation $0)"
!insertmacro Texts JAPANESE "${PRODUCT} セットアップ、zarnouns ${VERSION}" \
  "$ChosenFolder には既に他のファイルがあります: $INSTDIR にインストールします" \
  `登録しています: ${REGISTER_COMMAND}` \
  "${PRODUCT} をアンインストール用に登録できませんでした。${PARAGRAPH}zarnouns.exe は $INSTDIR\ のエントリ ${UNINSTALL_KEY} を HKLM にも HKCU にも作成しませんでした。${PARAGRAPH}セットアップはここで終了します。ファイルは $INSTDIR に残ります。" \
  "$INSTDIR\ のアンインストール エントリがありません (見つかった InstallLocation: '$0')" \
  "登録しました: ${UNINSTALL_KEY} (InstallLocation $0)"
!insertmacro Texts KOREAN "${PRODUCT} 설치, zarnouns ${VERSION}" \
  "$ChosenFolder에 이미 다른 파일이 있습니다. $INSTDIR에 설치합니다." \
  `등록하는 중: ${REGISTER_COMMAND}` \
  "${PRODUCT}을(를) 제거용으로 등록할 수 없습니다.${PARAGRAPH}zarnouns.exe가 $INSTDIR\에 대한 ${UNINSTALL_KEY} 항목을 HKLM이나 HKCU에 만들지 않았습니다.${PARAGRAPH}설치를 여기서 중단합니다. 파일은 $INSTDIR에 남아 있습니다." \
  "$INSTDIR\에 대한 제거 항목이 없습니다(찾은 InstallLocation: '$0')." \
  "등록했습니다: ${UNINSTALL_KEY} (InstallLocation $0)"
!insertmacro Texts SIMPCHINESE "${PRODUCT} 安装程序，zarnouns ${VERSION}" \
  "$ChosenFolder 已包含其他文件：将安装到 $INSTDIR" \
  `正在注册：${REGISTER_COMMAND}` \
  "无法为卸载注册 ${PRODUCT}。${PARAGRAPH}zarnouns.exe 未在 HKLM 或 HKCU 下为 $INSTDIR\ 留下条目 ${UNINSTALL_KEY}。${PARAGRAPH}安装程序到此停止；文件保留在 $INSTDIR 中。" \
  "$INSTDIR\ 没有卸载条目 (找到的 InstallLocation：'$0')" \
  "已注册：${UNINSTALL_KEY} (InstallLocation $0)"
!insertmacro Texts TRADCHINESE "${PRODUCT} 安裝程式，zarnouns ${VERSION}" \
  "$ChosenFolder 已包含其他檔案：將安裝到 $INSTDIR" \
  `正在註冊：${REGISTER_COMMAND}` \
  "無法為解除安裝註冊 ${PRODUCT}。${PARAGRAPH}zarnouns.exe 未在 HKLM 或 HKCU 下為 $INSTDIR\ 留下項目 ${UNINSTALL_KEY}。${PARAGRAPH}安裝程式到此停止；檔案保留在 $INSTDIR 中。" \
  "$INSTDIR\ 沒有解除安裝項目 (找到的 InstallLocation：'$0')" \
  "已註冊：${UNINSTALL_KEY} (InstallLocation $0)"
