<?xml version="1.0" encoding="UTF-8"?>
<tileset version="1.8" tiledversion="1.8.2" name="terrain" tilewidth="16" tileheight="16" spacing="2" margin="1" tilecount="8" columns="4">
 <tileoffset x="0" y="0"/>
 <properties>
  <property name="material" value="rock"/>
 </properties>
 <image source="terrain.png" width="72" height="36"/>
 <tile id="0" type="ground">
  <properties>
   <property name="solid" type="bool" value="true"/>
  </properties>
 </tile>
 <tile id="1">
  <objectgroup draworder="index" id="2">
   <object id="1" x="0" y="8" width="16" height="8"/>
  </objectgroup>
 </tile>
 <tile id="2">
  <properties>
   <property name="oneway" type="bool" value="true"/>
  </properties>
 </tile>
 <tile id="6">
  <animation>
   <frame tileid="6" duration="100"/>
   <frame tileid="7" duration="250"/>
  </animation>
 </tile>
</tileset>
